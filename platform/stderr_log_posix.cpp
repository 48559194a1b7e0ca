#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "platform/stderr_log.h"
#include "platform/stderr_log_sink.h"

namespace platform {

namespace {

struct Capture {
    std::mutex mutex;
    std::condition_variable finished;
    bool running = false;
    bool readerDone = false;
    int original = -1;  // where standard error went before; close-on-exec
    std::thread reader;
};

Capture& capture() {
    static Capture* const c = new Capture();
    return *c;
}

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        // A reader that went away (EPIPE; SIGPIPE is ignored) or a full
        // disk: the piece is dropped there and still goes to the file.
        if (n <= 0) return;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

void readLoop(int pipeRead, int original) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(pipeRead, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (original >= 0) writeAll(original, buffer, static_cast<std::size_t>(n));
        stderr_log::feed(buffer, static_cast<std::size_t>(n));
    }
    close(pipeRead);
    stderr_log::closeSink();
    Capture& c = capture();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.readerDone = true;
    c.finished.notify_all();
}

int openDevNull() { return open("/dev/null", O_WRONLY | O_CLOEXEC); }

}  // namespace

bool startStderrLog(const std::string& logPath) {
    Capture& c = capture();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.running) return true;

    int original = -1;
    if (fcntl(STDERR_FILENO, F_GETFD) == -1) {
        // Standard error is closed: descriptor 2 gets /dev/null first, so that
        // the pipe below cannot take number 2 for one of its own ends.
        const int null = openDevNull();
        if (null < 0) return false;
        if (null != STDERR_FILENO) {
            dup2(null, STDERR_FILENO);
            close(null);
        }
    } else {
        original = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
        if (original < 0) return false;
    }
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        if (original >= 0) close(original);
        return false;
    }
    std::fflush(stderr);
    if (dup2(fds[1], STDERR_FILENO) < 0) {
        close(fds[0]);
        close(fds[1]);
        if (original >= 0) close(original);
        return false;
    }
    close(fds[1]);
    stderr_log::openSink(logPath);
    c.original = original;
    c.readerDone = false;
    c.reader = std::thread(readLoop, fds[0], original);
    c.running = true;
    return true;
}

void stopStderrLog() {
    Capture& c = capture();
    std::unique_lock<std::mutex> lock(c.mutex);
    if (!c.running) return;
    c.running = false;
    std::fflush(stderr);
    // Descriptor 2 was the pipe's last write end: replacing it ends the
    // reader's input once everything written so far is read.
    const int target = c.original >= 0 ? c.original : openDevNull();
    if (target >= 0) {
        dup2(target, STDERR_FILENO);
        if (target != c.original) close(target);
    }
    const bool done = stderr_log::settleReader(lock, c.finished, c.readerDone, c.reader);
    // Otherwise c.original stays open: the detached reader may still write to it.
    if (done) {
        std::lock_guard<std::mutex> again(c.mutex);
        if (c.original >= 0) close(c.original);
        c.original = -1;
    }
}

bool capturedStderrOriginal(int& original) {
    Capture& c = capture();
    std::lock_guard<std::mutex> lock(c.mutex);
    original = c.running ? c.original : -1;
    return c.running;
}

}  // namespace platform
