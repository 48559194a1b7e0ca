#include <errno.h>
#include <unistd.h>

#include "platform/terminal.h"

namespace platform {

namespace {

// Distinct addresses that nothing reads through.
char g_instanceTag;
char g_windowTag;

}  // namespace

bool isStdinTerminal() { return isatty(STDIN_FILENO) == 1; }

bool readStdinLine(std::string& line) {
    line.clear();
    for (;;) {
        char c = 0;
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return !line.empty();
        if (c == '\n') break;
        line.push_back(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

HINSTANCE terminalInstance() { return reinterpret_cast<HINSTANCE>(&g_instanceTag); }

HWND terminalWindow() { return reinterpret_cast<HWND>(&g_windowTag); }

}  // namespace platform
