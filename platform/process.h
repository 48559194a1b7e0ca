// Starting a second instance of a program and asking a window to close:
// what the update agent needs to restart the program after an update.
#pragma once

#include <string>

#include "core/export.h"
#include "platform/win32.h"

namespace platform {

// Starts the executable at path as a new process, without a command line
// (no arguments), with the caller's environment and current directory. It
// runs on after the caller ends. Returns true when the process was started.
UPD_QN_API bool startProcess(const std::string& path);

// Sends WM_CLOSE to the window (nothing happens for a null handle, and on
// systems without windows).
UPD_QN_API void closeWindow(HWND window);

}  // namespace platform
