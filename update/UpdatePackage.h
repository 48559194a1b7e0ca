// The update package as the server publishes it and the package builder
// writes it:
//   "updateinfo.dat"  32-bit count N (little-endian) = number of files + 1,
//                     then N - 1 names, each a 32-bit length and the bytes;
//                     names are bare file names in the program folder.
//                     A signed list is followed by its 64-byte signature.
//   "update<K>"       K = 1 .. N - 1 in decimal: the K-th named file's
//                     content followed by a 64-byte trailer: its signature,
//                     or zeros in an unsigned package (update/UpdateSignature.h).
#pragma once

#include <string>
#include <vector>

#include "core/CBlob.h"
#include "core/eQuorinType.h"
#include "core/export.h"

namespace qn::update {

inline constexpr const char* kInfoFileName = "updateinfo.dat";
inline constexpr const char* kPartPrefix = "update";
inline constexpr unsigned kPartTrailerSize = 64;

// Bounds of "updateinfo.dat": the whole file (signature included), the
// files a package may hold and the bytes of one name (what one path
// component may hold on the systems the program runs on).
inline constexpr unsigned kMaxInfoSize = 64u << 10;
inline constexpr unsigned kMaxPackageFiles = 1024;
inline constexpr unsigned kMaxNameSize = 255;

// "update" followed by k in decimal.
UPD_QN_API std::string partFileName(unsigned k);

// Suffix of the file that receives a new content next to the live one.
inline constexpr const char* kStagedSuffix = ".update-new";

// True for a plain file name that stays inside the folder it is joined to
// and means the same file on every system: not empty, not "." or "..", no
// "/", "\\", ":" (drive letters, streams), no control characters nor any of
// < > " | ? *, no trailing dot or blank (Windows drops them), not a Windows
// device name (CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$, also
// with an extension; COM and LPT also with a superscript 1, 2 or 3, in UTF-8
// or as the single byte of the Western code page, since Windows reads the
// bytes in whichever of them is the system's code page), and not a name the
// installer itself uses (ending in ".update-new").
UPD_QN_API bool isBareFileName(const std::string& name);

// Reads the name list of "updateinfo.dat". Returns 0, 6 when the bytes are
// more than kMaxInfoSize, the count lists more than kMaxPackageFiles files,
// or the count or a name runs past the end, or 78 when a name is longer than
// kMaxNameSize bytes or not a bare file name or two names are the same file
// (compared without case, as Windows does). Names are only handed out when
// every one of them passed. listSize, when given, receives the bytes the
// count and names take.
UPD_QN_API int readPackageInfo(tesel::CBlob info, std::vector<std::string>& names,
                               unsigned* listSize = nullptr);

// "updateinfo.dat" as the agent takes it from the server, for the variant
// and version it asked for. Its last 64 bytes are the signature of what
// comes before them, checked with key before a byte of the list is parsed;
// the signed bytes must then be the list exactly. A list without a valid
// signature is refused (78) unless acceptUnsigned: then the whole file is
// read as a list, and a 64-byte trailer after it that is not all zeros is a
// signature that failed (78). Returns 0, 6 or 78 as readPackageInfo does.
UPD_QN_API int readSignedPackageInfo(const tesel::CBlob& info, tesel::eQuorinType type, unsigned version,
                                     const std::vector<unsigned char>& key, bool acceptUnsigned,
                                     std::vector<std::string>& names);

// The bytes of "updateinfo.dat" for the given names.
UPD_QN_API tesel::CBlob writePackageInfo(const std::vector<std::string>& names);

}  // namespace qn::update
