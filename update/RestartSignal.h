// How a restart after an installed update reaches the running program.
//
// CUpdateQn::restart starts a new instance of the running executable, asks
// the main window to close (Windows: WM_CLOSE) and then raises the restart
// request: the flag below turns true and the installed handler, if any, is
// called on the same thread. A program without a window (Linux) installs a
// handler, or checks the flag after attemptUpdate, and ends its main loop
// with exit code 0 so that only the new instance stays.
#pragma once

#include <functional>
#include <string>

#include "core/export.h"

namespace qn::update {

using RestartHandler = std::function<void()>;

// Replaces the handler (an empty function removes it).
UPD_QN_API void setRestartHandler(RestartHandler handler);

// True once a restart was requested in this process.
UPD_QN_API bool isRestartRequested();

// Raises the request: sets the flag, then calls the handler.
UPD_QN_API void requestRestart();

// Clears the flag (for a program that wants to go on after all, and tests).
UPD_QN_API void clearRestartRequest();

// Starts a new process of an executable; returns true when it runs. The
// default is platform::startProcess. Replaceable so that tests can watch a
// restart without starting a second copy of themselves.
using ProcessLauncher = std::function<bool(const std::string& executable)>;
UPD_QN_API void setProcessLauncher(ProcessLauncher launcher);  // empty: the default
UPD_QN_API bool launchProcess(const std::string& executable);

}  // namespace qn::update
