// Small file helpers that the C and C++ libraries do not offer portably.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/export.h"

namespace platform {

// Size in bytes of the regular file open as `f`; -1 when it cannot be told
// or the stream is not a regular file (a folder, a pipe, a device).
std::int64_t regularFileSize(std::FILE* f);

// Renames the file `from` to `to`, replacing a file already at `to` in one
// step (readers see the old file or the new one, never neither). Paths may
// use "\\" or "/". Returns true on success.
UPD_QN_API bool replaceFile(const std::string& from, const std::string& to);

}  // namespace platform
