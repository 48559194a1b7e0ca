// The program's log, pellamo.log in the data folder: a copy of everything
// written to the standard error stream (platform/stderr_log.h), opened by a
// line naming the version, data folder, listen address and transport server.
#pragma once

#include <string>

namespace app {

// <data folder>/pellamo.log
std::string logFilePath();

// Starts the log at the very start of the program (before any thread that
// writes to standard error) and arranges that it is flushed at exit.
void startLog();

// Writes the start line into the log (not to standard error): version, data
// folder, listen address and the transport server in force.
void logStartLine();

// Flushes the last lines into the log and gives standard error back. Called
// on the way out; exit() calls it too.
void stopLog();

}  // namespace app
