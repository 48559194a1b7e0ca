// Small file helpers that the C and C++ libraries do not offer portably.
#pragma once

#include <cstdint>
#include <cstdio>

namespace platform {

// Size in bytes of the regular file open as `f`; -1 when it cannot be told
// or the stream is not a regular file (a folder, a pipe, a device).
std::int64_t regularFileSize(std::FILE* f);

}  // namespace platform
