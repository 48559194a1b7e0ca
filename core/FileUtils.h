// Folders and whole-file load/save of byte blobs. Paths may use "\\" or "/".
#pragma once

#include <string>

#include "core/CBlob.h"
#include "core/export.h"

namespace tesel {

// Creates the one directory (no intermediate folders) unless a directory is
// already there. Returns 0 in every case.
UPD_QN_API int createFolder(const std::string& path);

// True if the path exists and is not a directory.
UPD_QN_API bool isFileExist(const std::string& path);

// Writes the bytes to the file, replacing it. Returns 1 on success, 0 when
// the file cannot be opened or written (unlike most calls: true-for-success).
UPD_QN_API int saveBlob(const BLOB* blob, const std::string& path);
UPD_QN_API int saveBlob(const CBlob* blob, const std::string& path);

// Reads the whole file into target (offset 0). Returns 0 on success, 2 when
// the file cannot be opened, is not a regular file, is larger than 4 GiB - 1
// or cannot be read completely; target is then left unchanged.
UPD_QN_API int loadBlob(const std::string& path, CBlob* target);

}  // namespace tesel
