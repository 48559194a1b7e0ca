#include "app/Settings.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace {

// All run-time values in one place, created on first use so that no other
// static initialiser can see them unconstructed.
struct RunTimeValues {
    std::mutex lock;  // guards the blob and string members
    tesel::CBlob rootCACerts;
    std::string currentContainer;
    std::atomic<int> currentCSP{qn::crypto::CP_NONE};
    std::atomic<int> requestedCSP{qn::crypto::CP_NONE};
};

RunTimeValues& values() {
    static RunTimeValues v;
    return v;
}

}  // namespace

tesel::CBlob getRootCACerts() {
    RunTimeValues& v = values();
    std::lock_guard<std::mutex> guard(v.lock);
    return tesel::CBlob(v.rootCACerts.getData(), v.rootCACerts.getSize());
}

void setRootCACerts(tesel::CBlob certs) {
    RunTimeValues& v = values();
    {
        std::lock_guard<std::mutex> guard(v.lock);
        std::swap(v.rootCACerts, certs);
    }
    // `certs` now holds the old value, released here, outside the lock.
}

qn::crypto::eSupportCP getCurrentCSP() {
    return static_cast<qn::crypto::eSupportCP>(values().currentCSP.load());
}

void setCurrentCSP(qn::crypto::eSupportCP kind) { values().currentCSP.store(kind); }

qn::crypto::eSupportCP getRequestedCSP() {
    return static_cast<qn::crypto::eSupportCP>(values().requestedCSP.load());
}

void setRequestedCSP(qn::crypto::eSupportCP kind) { values().requestedCSP.store(kind); }

std::string getCurrentContainer() {
    RunTimeValues& v = values();
    std::lock_guard<std::mutex> guard(v.lock);
    return v.currentContainer;
}

void setCurrentContainer(std::string container) {
    RunTimeValues& v = values();
    std::lock_guard<std::mutex> guard(v.lock);
    v.currentContainer = std::move(container);
}
