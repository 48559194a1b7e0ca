#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/process.h"
#include "platform/stderr_log.h"

extern char** environ;

namespace platform {

bool startProcess(const std::string& path) {
    if (path.empty()) return false;
    // argv[0] is the program's own path, as a shell would pass it; there are
    // no further arguments.
    std::string program = path;
    char* argv[] = {program.data(), nullptr};
    // While standard error goes into this process's log, the new process
    // writes where it went before: the log's pipe ends with this process.
    posix_spawn_file_actions_t actions;
    if (posix_spawn_file_actions_init(&actions) != 0) return false;
    int original = -1;
    if (capturedStderrOriginal(original)) {
        if (original >= 0) {
            posix_spawn_file_actions_adddup2(&actions, original, STDERR_FILENO);
        } else {
            posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
        }
    }
    pid_t pid = 0;
    const bool started = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    return started;
}

void closeWindow(HWND /*window*/) {}

}  // namespace platform
