#include <spawn.h>
#include <sys/types.h>

#include "platform/process.h"

extern char** environ;

namespace platform {

bool startProcess(const std::string& path) {
    if (path.empty()) return false;
    // argv[0] is the program's own path, as a shell would pass it; there are
    // no further arguments.
    std::string program = path;
    char* argv[] = {program.data(), nullptr};
    pid_t pid = 0;
    return posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) == 0;
}

void closeWindow(HWND /*window*/) {}

}  // namespace platform
