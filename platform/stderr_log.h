// The program's log: everything the process writes to its standard error
// stream also goes, line by line with the time in front, into a log file that
// rotates by size (platform/rotating_log.h). Standard error is redirected
// into a pipe; a reader thread passes each piece on at once, unchanged, to
// where standard error went before (when it went anywhere: a Windows GUI
// program has nowhere) and writes complete lines to the file.
#pragma once

#include <string>
#include <string_view>

#include "core/export.h"

namespace platform {

// Starts the log into the file at logPath (made when missing). Returns false,
// with standard error left as it was, when the redirection cannot be made; a
// log file that cannot be opened only loses the lines meant for it. A second
// call while a log runs does nothing and returns true.
UPD_QN_API bool startStderrLog(const std::string& logPath);

// Writes one line into the log file only, not to standard error (nothing
// happens while no log runs).
UPD_QN_API void writeLogLine(std::string_view line);

// Flushes standard error, gives it back its earlier destination and waits
// (up to two seconds) until the reader has written every line. Call before
// the process exits; a second call does nothing.
UPD_QN_API void stopStderrLog();

// Linux: true while a log runs, with original = the descriptor standard error
// had before (close-on-exec), or -1 when it had none. A program this one
// starts gets that one, not the log's pipe, whose reader ends with this
// process.
bool capturedStderrOriginal(int& original);

}  // namespace platform
