// Loading shared libraries at run time: LoadLibraryA, GetProcAddress and
// FreeLibrary. On Windows these are the system's own; elsewhere the dynamic
// loader serves them under the same names and conventions (a null module or
// procedure on failure, GetLastError() set).
#pragma once

#include <string>

#include "core/export.h"
#include "platform/win32.h"

#ifndef _WIN32
using HMODULE = HINSTANCE;
using FARPROC = void (*)();

// A path, or a bare file name that the loader looks up in its search path.
// Part code loads through platform::loadModule.
HMODULE LoadLibraryA(LPCSTR lpLibFileName);
FARPROC GetProcAddress(HMODULE hModule, LPCSTR lpProcName);
BOOL FreeLibrary(HMODULE hLibModule);
#endif

namespace platform {

// How a module is named: a bare file name ("rtPKCS11ECP.dll"), a full path
// (a drive and a root, "C:\\x\\m.dll" or "C:/x/m.dll", or a network path
// "\\\\server\\share\\m.dll"), or any other path (relative, "sub\\m.dll",
// "C:m.dll", "\\m.dll"). Both separators count. Empty names, "." and ".."
// are paths too: nothing to search for.
enum class ModuleName { Bare, FullPath, OtherPath };
UPD_QN_API ModuleName classifyModuleName(const std::string& name);

// Loads a module that the deployment names, the one way Part code loads
// libraries. A bare name is looked up in the system's own library folders
// only, never in the program's folder or the current one, where anybody
// could have put a file of that name: on Windows the system folder
// (system32); elsewhere the dynamic loader's search path (LD_LIBRARY_PATH,
// the loader's cache and the system folders; it never looks in the current
// folder), which is the system's own. A path is loaded as given; on Windows
// the dependencies of a module given by full path are looked up in its own
// folder and in system32.
// Null on failure, GetLastError() set.
UPD_QN_API HMODULE loadModule(const std::string& name);

// Called first thing at start-up. On Windows it limits where the process
// looks for libraries loaded by name from then on to system32 (where the
// system offers that) and takes the current folder out of the search; the
// program's own libraries beside it were loaded before. Elsewhere nothing.
UPD_QN_API void restrictLibrarySearch();

// The file of the loaded module (program or library) that holds the given
// address; empty when none does.
std::string moduleFileOf(const void* address);

// A procedure address as a function pointer of type F.
template <class F>
F procAs(FARPROC proc) {
    return reinterpret_cast<F>(reinterpret_cast<void (*)()>(proc));
}

}  // namespace platform
