// Large buffers. A message of megabytes is written into freshly allocated
// memory once; where every first touch of a small page costs a page fault,
// backing such a buffer with large pages makes that touch hundreds of times
// cheaper.
#pragma once

#include <cstddef>

namespace platform {

// Buffers at least this large are worth the advice below.
constexpr std::size_t kLargeBufferBytes = 2u << 20;

// Asks the system to back the untouched memory of [p, p + n) with large
// pages where it can. Only advice: nothing changes where it is not
// supported, and the contents are not touched.
void adviseLargeBuffer(void* p, std::size_t n);

// Called once at start, before other threads exist: the allocator serves
// blocks of up to tens of megabytes (messages, packets) from its heap and
// keeps freed ones, so that the next such block reuses memory already
// touched instead of mapping, faulting in and zeroing fresh pages again.
void tuneAllocatorForLargeMessages();

}  // namespace platform
