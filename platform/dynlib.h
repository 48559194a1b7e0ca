// Loading shared libraries at run time: LoadLibraryA, GetProcAddress and
// FreeLibrary. On Windows these are the system's own; elsewhere the dynamic
// loader serves them under the same names and conventions (a null module or
// procedure on failure, GetLastError() set).
#pragma once

#include <string>

#include "platform/win32.h"

#ifndef _WIN32
using HMODULE = HINSTANCE;
using FARPROC = void (*)();

// A path, or a bare file name that the loader looks up in its search path.
HMODULE LoadLibraryA(LPCSTR lpLibFileName);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);
#endif

namespace platform {

// The file of the loaded module (program or library) that holds the given
// address; empty when none does.
std::string moduleFileOf(const void* address);

// A procedure address as a function pointer of type F.
template <class F>
F procAs(FARPROC proc) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace platform
