#include "update/RestartSignal.h"

#include <atomic>
#include <mutex>

#include "platform/process.h"

namespace qn::update {

namespace {

struct State {
    std::mutex mutex;
    RestartHandler handler;
    ProcessLauncher launcher;
    std::atomic<bool> requested{false};
};

State& state() {
    static State s;
    return s;
}

}  // namespace

void setRestartHandler(RestartHandler handler) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.handler = std::move(handler);
}

bool isRestartRequested() { return state().requested.load(); }

void requestRestart() {
    State& s = state();
    s.requested.store(true);
    RestartHandler handler;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        handler = s.handler;
    }
    // Called outside the lock: the handler may well replace itself.
    if (handler) handler();
}

void clearRestartRequest() { state().requested.store(false); }

void setProcessLauncher(ProcessLauncher launcher) {
    State& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.launcher = std::move(launcher);
}

bool launchProcess(const std::string& executable) {
    ProcessLauncher launcher;
    {
        State& s = state();
        std::lock_guard<std::mutex> lock(s.mutex);
        launcher = s.launcher;
    }
    return launcher ? launcher(executable) : platform::startProcess(executable);
}

}  // namespace qn::update
