// What the two system faces of the standard error log share: the log file and
// the cutting of the captured bytes into lines. Internal to platform/.
#pragma once

#include <cstddef>
#include <string>

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

}  // namespace platform::stderr_log
