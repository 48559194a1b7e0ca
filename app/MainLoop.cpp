#include "app/MainLoop.h"

#include <condition_variable>
#include <mutex>

namespace app {

namespace {

struct LoopState {
    std::mutex mutex;
    std::condition_variable ended;
    bool ending = false;
    int exitCode = 0;
};

LoopState& state() {
    // Never destroyed: a detached thread may still request the end while the
    // process is exiting.
    static LoopState* const s = new LoopState();
    return *s;
}

}  // namespace

void requestMainLoopEnd(int exitCode) {
    LoopState& s = state();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (s.ending) return;
        s.ending = true;
        s.exitCode = exitCode;
    }
    s.ended.notify_all();
}

bool isMainLoopEnding() {
    LoopState& s = state();
    std::lock_guard<std::mutex> lock(s.mutex);
    return s.ending;
}

int runMainLoop() {
    LoopState& s = state();
    std::unique_lock<std::mutex> lock(s.mutex);
    s.ended.wait(lock, [&s] { return s.ending; });
    return s.exitCode;
}

}  // namespace app
