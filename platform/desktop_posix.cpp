#include "platform/desktop.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "platform/dynlib.h"

namespace platform::desktop {

namespace {

constexpr const char* kModuleFile = "pellamo-desktop.so";
constexpr const char* kIconName = "pellamo";

struct Loaded {
    std::mutex mutex;
    bool tried = false;
    std::atomic<const PellamoDesktopApi*> api{nullptr};
    std::string folder;  // of the module, with a trailing "/"
    std::vector<TrayItem> trayItems;
    std::vector<std::string> trayLabels;
    std::vector<const char*> trayLabelPointers;
};

Loaded& loaded() {
    // Never destroyed: a service thread may show a box while the process exits.
    static Loaded* const l = new Loaded();
    return *l;
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool notEmpty(const char* value) { return value != nullptr && *value != '\0'; }

// The module lies beside this library (the program's own folder).
std::string moduleFolder() {
    const std::string self = moduleFileOf(reinterpret_cast<const void*>(&hasGraphicalSession));
    const auto slash = self.rfind('/');
    return slash == std::string::npos ? std::string() : self.substr(0, slash + 1);
}

std::string iconFileIn(const std::string& folder) {
    const std::string path = folder + kIconName + ".png";
    return fileExists(path) ? path : std::string();
}

void onTrayItem(void* /*context*/, int index) {
    Loaded& l = loaded();
    std::function<void()> chosen;
    {
        std::lock_guard<std::mutex> lock(l.mutex);
        if (index < 0 || static_cast<std::size_t>(index) >= l.trayItems.size()) return;
        chosen = l.trayItems[static_cast<std::size_t>(index)].chosen;
    }
    if (chosen) chosen();
}

}  // namespace

bool hasGraphicalSession(const EnvironmentReader& env, const PathProbe& exists) {
    const char* wanted = env("PELLAMO_DESKTOP");
    if (wanted != nullptr && std::strcmp(wanted, "0") == 0) return false;
    if (!notEmpty(env("DISPLAY")) && !notEmpty(env("WAYLAND_DISPLAY"))) return false;
    if (notEmpty(env("DBUS_SESSION_BUS_ADDRESS"))) return true;
    const char* runtime = env("XDG_RUNTIME_DIR");
    return notEmpty(runtime) && exists(std::string(runtime) + "/bus");
}

std::string toolkitMnemonic(const std::string& windowsText) {
    std::string out;
    for (std::size_t i = 0; i < windowsText.size(); ++i) {
        const char c = windowsText[i];
        if (c == '_') {
            out += "__";
        } else if (c == '&' && i + 1 < windowsText.size() && windowsText[i + 1] == '&') {
            out += '&';
            ++i;
        } else if (c == '&') {
            if (i + 1 < windowsText.size()) out += '_';
        } else {
            out += c;
        }
    }
    return out;
}

bool open() {
    Loaded& l = loaded();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (l.tried) return l.api.load() != nullptr;
    l.tried = true;
    const EnvironmentReader env = [](const char* name) { return std::getenv(name); };
    if (!hasGraphicalSession(env, fileExists)) return false;
    l.folder = moduleFolder();
    if (l.folder.empty() || !fileExists(l.folder + kModuleFile)) return false;
    // By full path: never a file of that name found elsewhere.
    HMODULE module = LoadLibraryA((l.folder + kModuleFile).c_str());
    if (module == nullptr) return false;
    const auto entry = procAs<PellamoDesktopEntry>(GetProcAddress(module, "pellamo_desktop_api"));
    const PellamoDesktopApi* api = entry != nullptr ? entry(kPellamoDesktopInterfaceVersion) : nullptr;
    if (api == nullptr || api->open(iconFileIn(l.folder).c_str()) != 0) {
        // The module stays loaded: GTK cannot be unloaded once initialised.
        return false;
    }
    l.api.store(api);
    return true;
}

bool isOpen() { return loaded().api.load() != nullptr; }

void close() {
    const PellamoDesktopApi* api = loaded().api.load();
    if (api != nullptr) api->close();
}

int messageBox(const std::string& text, const std::string& caption, unsigned type) {
    const PellamoDesktopApi* api = loaded().api.load();
    return api != nullptr ? api->messageBox(text.c_str(), caption.c_str(), type) : 0;
}

bool showTray(const std::string& title, std::vector<TrayItem> items) {
    Loaded& l = loaded();
    const PellamoDesktopApi* api = l.api.load();
    if (api == nullptr) return false;
    PellamoTray tray{};
    {
        std::lock_guard<std::mutex> lock(l.mutex);
        if (!l.trayItems.empty()) return false;  // one icon per program
        l.trayItems = std::move(items);
        for (const TrayItem& item : l.trayItems) l.trayLabels.push_back(toolkitMnemonic(item.text));
        for (const std::string& label : l.trayLabels) l.trayLabelPointers.push_back(label.c_str());
        const bool haveIcon = !iconFileIn(l.folder).empty();
        tray.id = kIconName;
        tray.title = title.c_str();
        tray.iconFolder = haveIcon ? l.folder.c_str() : nullptr;
        tray.iconName = kIconName;
        tray.labels = l.trayLabelPointers.data();
        tray.count = static_cast<int>(l.trayLabelPointers.size());
        tray.activated = onTrayItem;
    }
    return api->showTray(&tray) == 0;
}

DialogResult runSettingsDialog(const SettingsDialogTexts& t, std::string& address) {
    Loaded& l = loaded();
    const PellamoDesktopApi* api = l.api.load();
    if (api == nullptr) return DialogResult::NotShown;
    const std::string icon = iconFileIn(l.folder);
    const PellamoSettingsDialog dialog{t.caption.c_str(),     icon.empty() ? nullptr : icon.c_str(),
                                       t.text.c_str(),        t.versionLabel.c_str(),
                                       t.version.c_str(),     t.addressLabel.c_str(),
                                       t.address.c_str(),     t.okLabel.c_str(),
                                       t.cancelLabel.c_str()};
    char* edited = nullptr;
    const int result = api->settingsDialog(&dialog, &edited);
    if (result == 1) {
        address = edited != nullptr ? edited : "";
        api->freeText(edited);
        return DialogResult::Ok;
    }
    return result == 0 ? DialogResult::Cancelled : DialogResult::NotShown;
}

void useModuleForTesting(const PellamoDesktopApi* api) {
    Loaded& l = loaded();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.tried = api != nullptr;
    l.api.store(api);
    l.trayItems.clear();
    l.trayLabels.clear();
    l.trayLabelPointers.clear();
}

}  // namespace platform::desktop
