// Path spelling of the host system, for code that builds paths by hand.
#pragma once

#include <string>

namespace platform {

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// The path as the host's C and C++ libraries want it. Paths built with "\\"
// work unchanged on Windows; elsewhere the backslashes become "/".
inline std::string nativePath(std::string path) {
#ifndef _WIN32
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
#endif
    return path;
}

}  // namespace platform
