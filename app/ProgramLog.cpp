#include "app/ProgramLog.h"

#include <cstdlib>
#include <string>

#include "app/Deployment.h"
#include "app/Settings.h"
#include "core/AppInfo.h"
#include "core/CBasicPath.h"
#include "platform/paths.h"
#include "platform/stderr_log.h"
#include "server/CWebSocketServer.h"

namespace app {

std::string logFilePath() {
    return tesel::CBasicPath::instance().getRootPath() + platform::kPathSeparator + "pellamo.log";
}

void startLog() {
    if (!platform::startStderrLog(logFilePath())) return;
    // Registered here, in the program itself: on Windows an exit handler of
    // the DLL would run under the loader lock, where no thread can be joined.
    static const bool registered = std::atexit([] { platform::stopStderrLog(); }) == 0;
    (void)registered;
}

void logStartLine() {
    const httpSrv::httpServerAddress transport = getTransportServerAddress();
    std::string line = "pellamo " + tesel::getAppVersion() + " started; data folder " +
                       tesel::CBasicPath::instance().getRootPath() + "; listening on ws://" +
                       deployment::listenAddress() + ":" + std::to_string(getPluginPort()) +
                       "; transport server " + httpSrv::getAddress(transport);
    platform::writeLogLine(line);
}

void stopLog() { platform::stopStderrLog(); }

}  // namespace app
