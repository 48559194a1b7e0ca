// The update package as the server publishes it and the package builder
// writes it:
//   "updateinfo.dat"  32-bit count N (little-endian) = number of files + 1,
//                     then N - 1 names, each a 32-bit length and the bytes;
//                     names are bare file names in the program folder.
//   "update<K>"       K = 1 .. N - 1 in decimal: the K-th named file's
//                     content followed by 64 zero bytes.
#pragma once

#include <string>
#include <vector>

#include "core/CBlob.h"
#include "core/export.h"

namespace qn::update {

inline constexpr const char* kInfoFileName = "updateinfo.dat";
inline constexpr const char* kPartPrefix = "update";
inline constexpr unsigned kPartTrailerSize = 64;

// "update" followed by k in decimal.
UPD_QN_API std::string partFileName(unsigned k);

// True for a plain file name that stays inside the folder it is joined to:
// not empty, not "." or "..", no "/", "\\", ":" (drive letters, streams) and
// no zero byte.
UPD_QN_API bool isBareFileName(const std::string& name);

// Reads the name list of "updateinfo.dat". Returns 0, 6 when the count or a
// name runs past the end, or 78 when a name is not a bare file name. Names
// are only handed out when every one of them passed.
UPD_QN_API int readPackageInfo(tesel::CBlob info, std::vector<std::string>& names);

// The bytes of "updateinfo.dat" for the given names.
UPD_QN_API tesel::CBlob writePackageInfo(const std::vector<std::string>& names);

}  // namespace qn::update
