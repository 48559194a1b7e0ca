// Conversions between the ANSI code page (Windows-1251), UTF-8 and UTF-16.
// Narrow texts of the program are CP1251; texts exchanged with the web page
// and outside services are UTF-8 and are converted at that boundary.
#pragma once

#include <string>

#include "core/export.h"
#include "platform/win32.h"

namespace tesel {

// ANSI -> UTF-8 (through UTF-16). A null pointer gives an empty string.
UPD_QN_API std::string convertToUTF8(const char* ansi);
UPD_QN_API std::string convertToUTF8(const std::string& ansi);

// UTF-8 -> ANSI (through UTF-16). Characters that CP1251 lacks become '?';
// invalid UTF-8 sequences become '?' as well. A null pointer gives "".
UPD_QN_API std::string convertFromUTF8(const char* utf8);
UPD_QN_API std::string convertFromUTF8(const std::string& utf8);

// ANSI -> newly allocated, zero-terminated UTF-16 copy; the caller releases
// it with free(). A null pointer gives an empty (but allocated) string.
UPD_QN_API WCHAR* convertToWideChar(const std::string* ansi);

// Zero-terminated UTF-16 -> ANSI. A null pointer gives an empty string.
UPD_QN_API std::string convertToChar(const WCHAR* wide);

}  // namespace tesel
