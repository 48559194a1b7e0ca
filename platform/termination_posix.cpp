#include "platform/termination.h"

#include <pthread.h>
#include <signal.h>

namespace platform {

namespace {

sigset_t terminationSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void prepareTerminationWait() {
    signal(SIGPIPE, SIG_IGN);
    // Threads inherit the mask, so the signals stay pending until sigwait.
    const sigset_t set = terminationSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void waitForTerminationRequest() {
    const sigset_t set = terminationSignals();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
}

}  // namespace platform
