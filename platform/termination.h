// Waiting in the foreground until the user or the system asks the program to
// end (Ctrl+C, or a termination request).
#pragma once

#include "core/export.h"

namespace platform {

// Call first in main, before any thread is started: later threads then never
// receive the termination requests themselves, and writing to a standard
// stream whose reader has gone away no longer ends the program.
UPD_QN_API void prepareTerminationWait();

// Blocks until a termination request arrives.
UPD_QN_API void waitForTerminationRequest();

}  // namespace platform
