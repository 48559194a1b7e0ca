#include "core/AppInfo.h"

#include <atomic>
#include <cstdio>
#include <mutex>

namespace tesel {

namespace {

struct AppInfo {
    std::atomic<unsigned> version{0};
    std::atomic<int> type{0};
    // The listeners, and whether each value was set (so only real values are
    // replayed). The mutex also keeps the calls into the listeners in order.
    std::recursive_mutex mutex;
    bool versionSet = false;
    bool typeSet = false;
    std::function<void(unsigned)> onVersion;
    std::function<void(eQuorinType)> onType;
};

AppInfo& info() {
    // Never destroyed: may be used from static destructors of other objects.
    static AppInfo* const instance = new AppInfo();
    return *instance;
}

}  // namespace

void setVersion(unsigned version) {
    AppInfo& i = info();
    std::lock_guard<std::recursive_mutex> lock(i.mutex);
    i.version.store(version);
    i.versionSet = true;
    if (i.onVersion) i.onVersion(version);
}

unsigned getVersion() { return info().version.load(); }

std::string getAppVersion() {
    const unsigned v = getVersion();
    char buf[48];
    const int n = std::snprintf(buf, sizeof buf, "%d.%02d.%03d", static_cast<int>(v / 100000),
                                static_cast<int>(v % 100000 / 1000), static_cast<int>(v % 1000));
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

void setAppType(eQuorinType type) {
    AppInfo& i = info();
    std::lock_guard<std::recursive_mutex> lock(i.mutex);
    i.type.store(type);
    i.typeSet = true;
    if (i.onType) i.onType(type);
}

eQuorinType getAppType() { return static_cast<eQuorinType>(info().type.load()); }

void setAppInfoListener(std::function<void(unsigned)> onVersion,
                        std::function<void(eQuorinType)> onType) {
    AppInfo& i = info();
    std::lock_guard<std::recursive_mutex> lock(i.mutex);
    i.onVersion = std::move(onVersion);
    i.onType = std::move(onType);
    if (i.versionSet && i.onVersion) i.onVersion(i.version.load());
    if (i.typeSet && i.onType) i.onType(static_cast<eQuorinType>(i.type.load()));
}

}  // namespace tesel
