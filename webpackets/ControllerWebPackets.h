// The client controller of the web commands: the current renewal packet
// (ControllerBaseClient), the renewal request built from it, and the
// released certificates fetched by UUID, opened with the key of the user's
// selected certificate (the web crypto controller's user connection) and
// installed in the renewal's new container.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "core/CBlob.h"
#include "crypto/ControllerPKIClient.h"
#include "crypto/ControllerWebCrypto.h"
#include "transport/ControllerBaseClient.h"

class ControllerWebPackets : public ControllerBaseClient {
public:
    // The process-wide controller, created (and initialised) on first use.
    static ControllerWebPackets& instance();

    ControllerWebPackets();
    void init();

    // A new current renewal packet for the settings' current CSP and
    // container, its card read from the selected certificate. The packet
    // goes to *out when asked.
    unsigned createProlongKeyPacket(std::shared_ptr<CPacketProlongKey>* out = nullptr);
    // The protected renewal packet of the current renewal packet: a PKCS#10
    // request signed with the new container's key, in a payload signed with
    // the selected certificate's key and encrypted for the CA. 1 when the
    // current packet is not a renewal packet.
    unsigned buildProlongKeyPacket(tesel::CBlob& packet);
    // The same with the request signed by newKey rather than the current
    // new-container connection.
    unsigned buildProlongKeyPacket(tesel::CBlob& packet, std::shared_ptr<qn::crypto::Crypto1By1Connect> newKey);
    // The same for the renewal packet a command took at its start, whatever
    // packet is current by now. On success the renewal is recorded: its new
    // container, its old container and CSP kind (see loadUserCert).
    unsigned buildProlongKeyPacket(tesel::CBlob& packet, std::shared_ptr<qn::crypto::Crypto1By1Connect> newKey,
                                   CPacketProlongKey& renewal);
    // The certificate of the CA's answer under uuid.
    unsigned getUserCert(const std::string& uuid, tesel::CBlob& certificate);
    // Fetches the answer for the packet's server UUID into the packet and
    // installs its certificate in the packet's new container and the
    // personal store. An answer that is not a renewal answer gives 20; a
    // certificate whose key is not the container's gives 73, and nothing is
    // installed. On a token the old container is removed, but only the one
    // a renewal of this program recorded for that new container: the names
    // come from the page, which must not be able to name any container.
    unsigned loadUserCert(CPacketProlongKey& packet);

    qn::crypto::ControllerPKIClient& getPKI() const { return *m_pki; }

private:
    struct Renewal {
        std::string oldContainer;
        qn::crypto::eSupportCP csp = qn::crypto::CP_NONE;
    };

    // Fetches and opens the answer under uuid with the user connection;
    // type receives the answer's package type.
    unsigned fetchAnswer(const std::string& uuid, tesel::CBlob& payload, tesel::PackageType* type = nullptr);
    void recordRenewal(const std::string& newContainer, Renewal renewal);
    // The renewal recorded for newContainer, forgotten when taken.
    bool takeRenewal(const std::string& newContainer, Renewal& out);

    std::mutex m_renewalMutex;
    std::map<std::string, Renewal> m_renewals;  // by new container

    qn::crypto::ControllerPKIClient* m_pki = nullptr;
    std::shared_ptr<qn::crypto::ControllerWebCrypto> m_webCrypto;
};
