// The file-system operations under the key container store, one
// implementation per system (ContainerFiles_posix.cpp, ContainerFiles_win.cpp),
// so that KeyContainerStore.cpp keeps the container logic and the file format
// the same everywhere. Paths are narrow: bytes on POSIX, the ANSI code page
// on Windows.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "softgost/gost/GcryptSupport.h"

namespace plcsp::files {

// The store's folder when PELLAMO_CSP_DIR does not name one: on Windows
// %APPDATA%\Pellamo\csp, elsewhere $XDG_DATA_HOME/pellamo/csp or
// $HOME/.local/share/pellamo/csp.
std::string defaultRoot();
// dir + separator + name.
std::string join(const std::string& dir, const std::string& name);

bool isDir(const std::string& path);
// Creates the folder and its missing parents (private to the user); true
// when the folder exists afterwards.
bool makeDirs(const std::string& path);
enum class MakeDir { Made, Exists, Failed };
MakeDir makeDir(const std::string& path);
// Entry names of a folder, without "." and ".."; false when it cannot be read.
bool listDir(const std::string& path, std::vector<std::string>& names);
// Removes a folder's files, then the folder; true when it is gone.
bool removeDirWithFiles(const std::string& path);

// Writes dir/name so that a reader sees either the old or the new file
// (temporary file in the same folder, flushed, then renamed over the old
// one); false on any failure, with the temporary file removed.
bool writeFileAtomic(const std::string& dir, const char* name, const unsigned char* data, std::size_t n);
// Reads a whole file of at most maxBytes into secure memory.
bool readFile(const std::string& path, std::size_t maxBytes, SecureBytes& out);

}  // namespace plcsp::files
