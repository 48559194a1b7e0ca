// One program per data folder, and a busy port said out loud.
//
// The installed program always runs in the user's one data folder (the
// Startup and Start menu shortcuts on Windows, the launcher of the Linux
// package), so holding the folder's instance lock means one program per user;
// a copy started by hand in another folder finds the port taken instead.
#pragma once

#include <string>

namespace app {

// Takes the instance lock of the data folder. False when another instance
// holds it: the user has been told that the program already runs, and this
// one must end at once. A lock that cannot be made does not stop the start.
// Also arranges that a restart after an update hands the lock on to the new
// instance.
bool takeInstanceLock();

// Tells the user once that the port could not be listened on (a message box
// on Windows, the standard error stream and the log on Linux). Returns at
// once; the box is shown on a thread of its own.
void reportBusyPort(unsigned port, const std::string& reason);

}  // namespace app
