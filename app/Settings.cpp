#include "app/Settings.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "app/Deployment.h"
#include "app/UpdateModule.h"
#include "transport/TransportServer.h"

namespace {

// All values in one place, created on first use so that no other static
// initialiser can see them unconstructed, and never destroyed: the service
// threads are not stopped when the program ends and may still read them.
struct RunTimeValues {
    std::mutex lock;  // guards the blob and string members
    httpSrv::httpServerAddress transportServer = getDefaultTransportServerAddress();
    tesel::CBlob rootCACerts;
    std::string currentContainer;
    std::atomic<int> currentCSP{qn::crypto::CP_NONE};
    std::atomic<int> requestedCSP{qn::crypto::CP_NONE};
};

RunTimeValues& values() {
    static RunTimeValues* const v = new RunTimeValues();
    return *v;
}

// Serialises setTransportServerAddress calls, so that the stored address and
// the two clients always end up holding the same one.
std::mutex& addressUpdateLock() {
    static std::mutex* const m = new std::mutex();
    return *m;
}

}  // namespace

httpSrv::httpServerAddress getDefaultTransportServerAddress() {
    return {deployment::defaultTransportHost(), deployment::kDefaultTransportPort};
}

httpSrv::httpServerAddress getTransportServerAddress() {
    RunTimeValues& v = values();
    std::lock_guard<std::mutex> guard(v.lock);
    return v.transportServer;
}

void setTransportServerAddress(httpSrv::httpServerAddress address) {
    std::lock_guard<std::mutex> update(addressUpdateLock());
    RunTimeValues& v = values();
    {
        std::lock_guard<std::mutex> guard(v.lock);
        v.transportServer = address;
    }
    CUpdateQn& agent = getUpdateModule();
    agent.setHost(address.host);
    agent.setPort(address.port);
    CHttpConnection& transport = getTransportServer();
    transport.setHost(address.host);
    transport.setPort(address.port);
}

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
