#include "platform/termination.h"

#include "platform/win32.h"

namespace platform {

namespace {

HANDLE g_terminationRequested = nullptr;

BOOL WINAPI onConsoleControl(DWORD) {
    SetEvent(g_terminationRequested);
    return TRUE;
}

}  // namespace

void prepareTerminationWait() {
    if (g_terminationRequested == nullptr)
        g_terminationRequested = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

void waitForTerminationRequest() {
    WaitForSingleObject(g_terminationRequested, INFINITE);
}

}  // namespace platform
