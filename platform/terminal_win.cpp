#include <io.h>

#include <cstdio>

#include "platform/terminal.h"

namespace platform {

bool isStdinTerminal() { return _isatty(_fileno(stdin)) != 0; }

bool readStdinLine(std::string& line) {
    line.clear();
    for (;;) {
        char c = 0;
        const int n = _read(_fileno(stdin), &c, 1);
        if (n <= 0) return !line.empty();
        if (c == '\n') break;
        line.push_back(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

HINSTANCE terminalInstance() { return GetModuleHandleA(nullptr); }

HWND terminalWindow() { return GetConsoleWindow(); }

}  // namespace platform
