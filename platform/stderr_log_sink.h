// What the two system faces of the standard error log share: the log file and
// the cutting of the captured bytes into lines. Internal to platform/.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>

namespace platform::stderr_log {

// Opens the sink on the file (replacing an earlier one); an unopenable file
// is tried again at every line.
void openSink(const std::string& logPath);
// Cuts the bytes into lines and writes the complete ones ("\r\n" or "\n"
// ends a line; the line end is written as "\n"). A line longer than 64 KiB
// is written in 64 KiB pieces.
void feed(const char* data, std::size_t size);
// Writes what remains of an unfinished line, then closes the file.
void closeSink();

// Once the capture's write end is gone: waits up to two seconds (lock held
// on entry, released on return) for the reader to say it is done, then joins
// it. A started program that still holds the pipe would keep the reader
// waiting for ever: then it is left to itself. True when it finished.
bool settleReader(std::unique_lock<std::mutex>& lock, std::condition_variable& finished, const bool& readerDone,
                  std::thread& reader);

}  // namespace platform::stderr_log
