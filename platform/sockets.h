// Socket behaviour that differs between systems.
#pragma once

#include "core/export.h"

namespace platform {

// True where a listening port stays blocked for a while after the program
// that used it has ended (closed connections linger in TIME_WAIT) unless the
// address-reuse option is set. Where the option would also let a second
// program take a port that is in use, this is false.
UPD_QN_API bool rebindNeedsAddressReuse();

}  // namespace platform
