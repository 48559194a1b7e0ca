#include "app/VUzeVorido.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/Deployment.h"
#include "app/InstanceGuard.h"
#include "app/ProgramLog.h"
#include "app/ServiceStatus.h"
#include "app/Settings.h"
#include "app/UpdateModule.h"
#include "core/AppInfo.h"
#include "core/eQuorinType.h"
#include "crypto/ControllerPKIClient.h"
#include "errors/CError.h"
#include "errors/CMsg.h"
#include "errors/eErrCodes.h"
#include "server/dispatch/processPacket.h"
#include "transport/TransportServer.h"
#include "update/RestartSignal.h"

namespace {

constexpr int kServiceThreads = 4;

// The process-wide objects are made before the entry runs, in this order:
// the catalogs, the application object with its server, the update agent
// (which also makes the backup folder), the settings store with its
// defaults, and the transport server connection.
[[maybe_unused]] const bool g_staticObjects = [] {
    CError::instance();
    CMsg::instance();
    getApplication();
    getUpdateModule();
    getTransportServerAddress();
    getTransportServer();
    return true;
}();

}  // namespace

VUzeVorido::VUzeVorido() : m_server(kServiceThreads) {}

VUzeVorido& getApplication() {
    static VUzeVorido application;
    return application;
}

int VUzeVorido::start() { return init(); }

int VUzeVorido::stop() { return ERR_OK; }

int VUzeVorido::init() {
    if (m_instance == nullptr || m_mainWnd == nullptr) return ERR_INTERNAL;

    tesel::setVersion(kProgramVersion);
    tesel::setAppType(tesel::QN_PLUGIN);

    // The CA certificate decides whose answers are trusted: a malformed
    // pin list stops the program rather than trusting any certificate.
    std::vector<tesel::Sha256Digest> trustedCA;
    std::string pinMessage;
    const bool pinsRead = deployment::trustedCAFingerprints(trustedCA, pinMessage);
    if (!pinMessage.empty()) std::fprintf(stderr, "%s\n", pinMessage.c_str());
    if (!pinsRead) return ERR_CA_CERT_INSTALL;
    qn::crypto::ControllerPKIClient::instance().setTrustedCAFingerprints(std::move(trustedCA));

    const int settings = loadSettings();
    app::logStartLine();
    if (settings != ERR_OK) return settings;

    bool handled = false;
    getUpdateModule().attemptUpdate(handled, m_mainWnd);

    // After an installed update the new instance is already running and this
    // one is closing: starting the service here would only race the new
    // instance for the plugin port.
    if (qn::update::isRestartRequested()) return ERR_OK;

    m_server.setProccessFunction(&processPacket);
    m_server.setAnsweredAtOnce(&answeredAtOnce);
    m_server.setAllowedOrigins(COriginAllowList::parse(deployment::allowedOrigins()));
    m_server.setListenAddress(deployment::listenAddress());
    m_server.setListenFailedHandler(&app::reportBusyPort);
    m_server.setStatusFunction(&service_status::currentStatusJson);
    return m_server.start();
}
