// The settings file: the transport server's address, kept across runs.
//
//   offset  size  field
//   0       4     magic 1D F1 DE FF (written, not checked on reading)
//   4       4     format version: 106 is written; 105 and 106 are read
//   8       4     host length n
//   12      n     host (ANSI code page, no terminator)
//   12 + n  4     port
// Integers are 32-bit little-endian; the file is exactly n + 16 bytes.
#include "app/Settings.h"
#include "core/CBasicPath.h"
#include "core/CBlob.h"
#include "core/FileUtils.h"
#include "errors/eErrCodes.h"
#include "platform/fileio.h"
#include "platform/paths.h"
#include "platform/win32.h"
#include "server/CWebSocketServer.h"

using tesel::CBlob;

namespace {

constexpr unsigned char kMagic[4] = {0x1D, 0xF1, 0xDE, 0xFF};
constexpr unsigned kWrittenVersion = 106;
constexpr unsigned kOlderVersion = 105;
constexpr unsigned kDefaultPluginPort = 3000;

// The new file is written beside the old one and then renamed over it, so an
// interrupted or failed write never leaves a damaged file behind (which would
// stop the next start with error 80).
constexpr const char* kTempSuffix = ".new";

}  // namespace

std::string getSettingsFile() {
    return tesel::CBasicPath::instance().getRootPath() + platform::kPathSeparator + "settings.dat";
}

int loadSettings() {
    // Every client holds the defaults even when no file is read.
    setTransportServerAddress(getDefaultTransportServerAddress());
    setPluginPort(kDefaultPluginPort);

    CBlob file;
    if (tesel::loadBlob(getSettingsFile(), &file) != ERR_OK) return ERR_OK;

    unsigned char magic[sizeof kMagic];
    file.deserialize(magic, sizeof magic);  // taken out, deliberately not compared
    unsigned version = 0;
    file >> version;
    if (file.isMalformed() || (version != kOlderVersion && version != kWrittenVersion))
        return ERR_SETTINGS_DAMAGED;

    httpSrv::httpServerAddress address;
    file >> &address.host;
    file >> address.port;
    // A host length that disagrees with the file's size leaves the fields
    // short or bytes over: the record cannot be trusted, so the defaults stay.
    if (file.isMalformed() || !file.isCompleted()) return ERR_SETTINGS_DAMAGED;
    setTransportServerAddress(address);
    return ERR_OK;
}

int saveSettings() {
    const httpSrv::httpServerAddress address = getTransportServerAddress();
    CBlob file(static_cast<unsigned>(sizeof kMagic) + CBlob::sizeOfInt() + CBlob::sizeOf(address.host) +
               CBlob::sizeOfInt());
    file.serialize(kMagic, sizeof kMagic);
    file.serialize(kWrittenVersion);
    file.serialize(address.host);
    file.serialize(address.port);
    if (file.isMalformed() || !file.isCompleted()) return ERR_OK;  // a host beyond 4 GiB

    const std::string path = getSettingsFile();
    const std::string temp = path + kTempSuffix;
    if (tesel::saveBlob(&file, temp) != 1 || !platform::replaceFile(temp, path))
        DeleteFileA(temp.c_str());
    return ERR_OK;
}
