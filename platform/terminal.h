// The terminal, for a program that offers its menu there when it has no
// window system to put a tray icon in.
#pragma once

#include <string>

#include "core/export.h"
#include "platform/win32.h"

namespace platform {

// True when standard input is a terminal, i.e. a person can answer there.
UPD_QN_API bool isStdinTerminal();

// Reads one line from standard input, without its line end ("\n" or "\r\n").
// Reads byte by byte and keeps no buffer of its own, so that a thread blocked
// here never holds a lock that the process's exit needs. Returns false at the
// end of input (a last line without a line end is still returned first) or
// on a read error.
UPD_QN_API bool readStdinLine(std::string& line);

// Stand-ins for the instance and main window handles where the terminal
// takes the place of the window: fixed, non-null, never dereferenced.
// Message boxes and closeWindow accept and ignore them.
UPD_QN_API HINSTANCE terminalInstance();
UPD_QN_API HWND terminalWindow();

}  // namespace platform
