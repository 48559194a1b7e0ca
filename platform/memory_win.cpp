#include "platform/memory.h"

namespace platform {

// Large pages need a privilege a user's program does not hold: nothing to do.
void adviseLargeBuffer(void*, std::size_t) {}

// The system heap hands large blocks back at once and maps new ones cheaply.
void tuneAllocatorForLargeMessages() {}

}  // namespace platform
