#include "app/InstanceGuard.h"

#include <mutex>
#include <string>
#include <thread>

#include "core/CBasicPath.h"
#include "core/TextConvert.h"
#include "core/eQuorinType.h"
#include "errors/MsgBox.h"
#include "platform/instance_lock.h"
#include "platform/process.h"
#include "platform/win32.h"
#include "update/RestartSignal.h"

namespace app {

namespace {

constexpr const char* kAlreadyRunning = "Программа уже запущена.";

platform::InstanceLock& instanceLock() {
    // Never destroyed: the lock goes with the process.
    static platform::InstanceLock* const lock = new platform::InstanceLock();
    return *lock;
}

void showError(const std::string& utf8Text) {
    const std::string caption = getCaption(tesel::QN_PLUGIN);
    MessageBoxA(nullptr, tesel::convertFromUTF8(utf8Text).c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
}

}  // namespace

bool takeInstanceLock() {
    const std::string folder = tesel::CBasicPath::instance().getRootPath();
    if (instanceLock().tryAcquire(folder) == platform::InstanceLock::Result::HeldElsewhere) {
        showError(kAlreadyRunning);
        return false;
    }
    // After an update the new instance starts while this one still runs: it
    // gets the lock first. Should the start fail, this instance goes on and
    // takes the lock back.
    qn::update::setProcessLauncher([folder](const std::string& executable) {
        const bool held = instanceLock().held();
        instanceLock().release();
        const bool started = platform::startProcess(executable);
        if (!started && held) instanceLock().tryAcquire(folder);
        return started;
    });
    return true;
}

void reportBusyPort(unsigned port, const std::string& /*reason*/) {
    static std::once_flag once;
    std::call_once(once, [port] {
        // The service's own report already names the system's reason.
        const std::string text = "Порт " + std::to_string(port) +
                                 " занят другой программой: личный кабинет не сможет связаться с программой.";
        std::thread([text] { showError(text); }).detach();
    });
}

}  // namespace app
