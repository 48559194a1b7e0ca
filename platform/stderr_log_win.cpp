#include <fcntl.h>
#include <io.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "platform/stderr_log.h"
#include "platform/stderr_log_sink.h"
#include "platform/win32.h"

namespace platform {

namespace {

struct Capture {
    std::mutex mutex;
    std::condition_variable finished;
    bool running = false;
    bool readerDone = false;
    HANDLE original = nullptr;  // where standard error went before; null: nowhere (a GUI program)
    int descriptor = 2;         // the C runtime's descriptor of stderr
    std::thread reader;
};

Capture& capture() {
    static Capture* const c = new Capture();
    return *c;
}

void writeAll(HANDLE to, const char* data, DWORD size) {
    while (size > 0) {
        DWORD written = 0;
        if (!WriteFile(to, data, size, &written, nullptr) || written == 0) return;
        data += written;
        size -= written;
    }
}

void readLoop(HANDLE pipeRead, HANDLE original) {
    char buffer[4096];
    DWORD n = 0;
    // Ends with ERROR_BROKEN_PIPE once the last write end is closed.
    while (ReadFile(pipeRead, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        if (original != nullptr) writeAll(original, buffer, n);
        stderr_log::feed(buffer, n);
    }
    CloseHandle(pipeRead);
    stderr_log::closeSink();
    Capture& c = capture();
    std::lock_guard<std::mutex> lock(c.mutex);
    c.readerDone = true;
    c.finished.notify_all();
}

// The standard error handle when it leads somewhere (a GUI program started
// from Explorer has none), duplicated so that it outlives descriptor 2.
HANDLE duplicateOriginal() {
    HANDLE current = GetStdHandle(STD_ERROR_HANDLE);
    if (current == nullptr || current == INVALID_HANDLE_VALUE) return nullptr;
    if (GetFileType(current) == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) return nullptr;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), current, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}

}  // namespace

bool startStderrLog(const std::string& logPath) {
    Capture& c = capture();
    std::lock_guard<std::mutex> lock(c.mutex);
    if (c.running) return true;

    HANDLE pipeRead = nullptr;
    HANDLE pipeWrite = nullptr;
    if (!CreatePipe(&pipeRead, &pipeWrite, nullptr, 0)) return false;
    HANDLE original = duplicateOriginal();
    // Text mode: the C runtime writes "\r\n" into the pipe as it wrote into
    // the original stream, so what reaches the original is unchanged.
    const int pipeDescriptor = _open_osfhandle(reinterpret_cast<std::intptr_t>(pipeWrite), _O_TEXT);
    if (pipeDescriptor < 0) {
        CloseHandle(pipeRead);
        CloseHandle(pipeWrite);
        if (original != nullptr) CloseHandle(original);
        return false;
    }
    std::fflush(stderr);
    int descriptor = _fileno(stderr);
    // A GUI program started without standard handles has a stderr stream
    // without a descriptor (-2), which freopen cannot reopen: descriptor 2
    // is made the pipe's, and the stream is pointed at it as a write stream.
    const bool detached = descriptor < 0;
    if (detached) descriptor = 2;
    if (_dup2(pipeDescriptor, descriptor) != 0) {
        _close(pipeDescriptor);
        CloseHandle(pipeRead);
        if (original != nullptr) CloseHandle(original);
        return false;
    }
    _close(pipeDescriptor);
    if (detached) {
        stderr->_file = descriptor;
        stderr->_flag = _IOWRT;
    }
    // The C runtime buffers a stream that is a pipe: lines must leave at once.
    std::setvbuf(stderr, nullptr, _IONBF, 0);
    SetStdHandle(STD_ERROR_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)));
    stderr_log::openSink(logPath);
    c.original = original;
    c.descriptor = descriptor;
    c.readerDone = false;
    c.reader = std::thread(readLoop, pipeRead, original);
    c.running = true;
    return true;
}

void stopStderrLog() {
    Capture& c = capture();
    std::unique_lock<std::mutex> lock(c.mutex);
    if (!c.running) return;
    c.running = false;
    std::fflush(stderr);
    // Replacing the descriptor closes the pipe's last write end, which ends
    // the reader's input once everything written so far is read.
    int target = -1;
    HANDLE back = nullptr;
    if (c.original != nullptr &&
        DuplicateHandle(GetCurrentProcess(), c.original, GetCurrentProcess(), &back, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        target = _open_osfhandle(reinterpret_cast<std::intptr_t>(back), _O_TEXT);
    }
    if (target < 0) target = _open("NUL", _O_WRONLY | _O_TEXT);
    if (target >= 0) {
        _dup2(target, c.descriptor);
        _close(target);
    }
    SetStdHandle(STD_ERROR_HANDLE, c.original != nullptr ? reinterpret_cast<HANDLE>(_get_osfhandle(c.descriptor)) : nullptr);
    // Otherwise the original handle stays open: the reader may still write to it.
    if (stderr_log::settleReader(lock, c.finished, c.readerDone, c.reader)) {
        std::lock_guard<std::mutex> again(c.mutex);
        if (c.original != nullptr) CloseHandle(c.original);
        c.original = nullptr;
    }
}

bool capturedStderrOriginal(int& original) {
    original = -1;
    return false;
}

}  // namespace platform
