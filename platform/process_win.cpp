#include "platform/process.h"

namespace platform {

bool startProcess(const std::string& path) {
    if (path.empty()) return false;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return true;
}

void closeWindow(HWND window) {
    if (window != nullptr) SendMessageA(window, WM_CLOSE, 0, 0);
}

}  // namespace platform
