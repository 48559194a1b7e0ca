#include "core/CBasicPath.h"

#include <string>

#include "core/FileUtils.h"
#include "platform/paths.h"
#include "platform/win32.h"

namespace tesel {

namespace {

std::string currentDirectory() {
    const DWORD need = GetCurrentDirectoryA(0, nullptr);
    if (need == 0) return {};
    std::string dir(need, '\0');
    const DWORD got = GetCurrentDirectoryA(need, dir.data());
    dir.resize(got < need ? got : 0);
    return dir;
}

}  // namespace

CBasicPath& CBasicPath::instance() {
    // Function-local static: built once, thread-safe, kept until exit.
    static CBasicPath* const path = new CBasicPath();
    return *path;
}

CBasicPath::CBasicPath() {
    const char sep = platform::kPathSeparator;
    m_currentDir = currentDirectory();
    m_rootPath = m_currentDir + sep + "data";
    createFolder(m_rootPath);
    m_attachPath = m_rootPath + sep + "attachment" + sep;
    createFolder(m_attachPath);
    m_packetInPath = m_rootPath + sep + "packetin" + sep;
    createFolder(m_packetInPath);
}

}  // namespace tesel
