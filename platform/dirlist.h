// Listing the files of a folder, with the names in the narrow form that the
// rest of the program uses (the ANSI code page on Windows).
#pragma once

#include <string>
#include <vector>

#include "core/export.h"

namespace platform {

// Appends to `names` the names (without the folder) of the entries of
// `folder` that are not folders, in no particular order. Returns false when
// the folder cannot be read.
UPD_QN_API bool listFileNames(const std::string& folder, std::vector<std::string>& names);

}  // namespace platform
