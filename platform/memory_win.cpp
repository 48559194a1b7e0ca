#include "platform/memory.h"

namespace platform {

// Large pages need a privilege a user's program does not hold: nothing to do.
void adviseLargeBuffer(void*, std::size_t) {}

}  // namespace platform
