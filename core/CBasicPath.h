// Folder layout of the program's data, fixed on first use:
//   current directory  the working directory at the moment of first use
//   root path          <current>/data
//   packet-in path     <root>/packetin/
//   attachment path    <root>/attachment/
// The three data folders are created (one level each) when the object is
// built. The separator is the platform's one ("\\" on Windows, "/" elsewhere).
#pragma once

#include <string>

#include "core/export.h"

namespace tesel {

class UPD_QN_API CBasicPath {
public:
    // Created and initialised on first call (thread-safe); lives until exit.
    static CBasicPath& instance();

    std::string getCurrentDir() const { return m_currentDir; }
    std::string getRootPath() const { return m_rootPath; }
    std::string getPacketInPath() const { return m_packetInPath; }
    std::string getAttachPath() const { return m_attachPath; }

    CBasicPath(const CBasicPath&) = delete;
    CBasicPath& operator=(const CBasicPath&) = delete;

private:
    CBasicPath();

    std::string m_currentDir;
    std::string m_rootPath;
    std::string m_packetInPath;
    std::string m_attachPath;
};

}  // namespace tesel
