// The certificate request controller: the card of the request in progress,
// the envelope PIN, and the key container connection of the request (made by
// createCrypto for a new request, opened by initCrypto to install or open a
// released certificate).
//
// Commands of several connections use it at once. Card, PIN and the current
// connection are guarded by one lock; connections are handed out in shared
// ownership, so a command keeps working with the connection it made while
// another command makes a new current one. The forms that take a connection
// let one command run its steps on its own connection throughout.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "client/CClient.h"
#include "core/CBlob.h"
#include "crypto/Crypto1By1Connect.h"
#include "crypto/eSupportCP.h"

class ControllerClientQn {
public:
    using Connection = std::shared_ptr<qn::crypto::Crypto1By1Connect>;

    // The process-wide controller, created on first use.
    static ControllerClientQn& instance();

    ControllerClientQn() = default;
    ControllerClientQn(const ControllerClientQn&) = delete;
    ControllerClientQn& operator=(const ControllerClientQn&) = delete;

    // A new container with a new key pair, paired with the CA; on success it
    // becomes the current connection (and goes to *made when asked). The key
    // kind is the card's CSP, or the requested CSP of the settings (as GOST
    // 2012) while the card has none (kind -2); a card with a kind the
    // program does not know gives 1 and no container.
    unsigned createCrypto(const std::string& container, Connection* made = nullptr);
    // The same for a card the caller read once for all its steps.
    unsigned createCrypto(const std::string& container, const tesel::CClient& card, Connection* made);
    // The same for an existing container of the given kind.
    unsigned initCrypto(const std::string& container, qn::crypto::eSupportCP kind, Connection* made = nullptr);

    // The DER PKCS#10 request for the card, signed by the connection's key;
    // 3 when the card has no CSP.
    unsigned buildCreateClientP10Packet(tesel::CBlob& out);
    unsigned buildCreateClientP10Packet(const Connection& connection, const tesel::CClient& card,
                                        tesel::CBlob& out) const;
    // The protected CA registration packet of the request.
    unsigned buildPkcs10QnRequest(const tesel::CBlob& p10, const std::string& pin, tesel::CBlob& out);
    unsigned buildPkcs10QnRequest(const Connection& connection, const tesel::CClient& card,
                                  const tesel::CBlob& p10, const std::string& pin, tesel::CBlob& out) const;
    // The provider's unique name of the connection's container.
    unsigned getContainerFullPath(std::string& out) const;
    static unsigned getContainerFullPath(const Connection& connection, std::string& out);

    // Fetches the CA's answer by UUID, opens it with the container's key and
    // installs the certificate in the container and the personal store. An
    // answer that is not a certificate request answer gives 20 and changes
    // nothing; a certificate whose key is not the container's gives 73 and
    // is not installed. An answer the CA rejected removes the container's
    // key pair and gives 34.
    unsigned loadReleasedCert(const std::string& uuid, const std::string& container, qn::crypto::eSupportCP kind);
    // Installs a certificate in the container only; 73 when its key is not
    // the container's.
    unsigned uploadCertToContainer(const tesel::CBlob& certificate, const std::string& container,
                                   qn::crypto::eSupportCP kind);
    // Opens an answer packet the caller holds with the container's key: out
    // is the whole payload, permanent header included.
    unsigned decryptReleasedCert(tesel::CBlob packet, const std::string& container, qn::crypto::eSupportCP kind,
                                 tesel::CBlob& out);

    // Decodes the certificate (44 when it is none) and adds it to the
    // personal store "MY" (38 when that fails). For a key in a CryptoAPI
    // container (interface 1 kinds) the stored certificate names that
    // container, so that logging in with it finds the key; a token's
    // certificate names none.
    static unsigned addCertToPersonalStore(const tesel::CBlob& certificate, const std::string& container,
                                           qn::crypto::eSupportCP kind);

    // The current connection; null until one is made.
    Connection getCrypto() const;

    // A copy of the card; a card copied in; an edit of the card in place,
    // under the controller's lock.
    tesel::CClient getClientInfo() const;
    void setClientInfo(const tesel::CClient& card);
    void withClientInfo(const std::function<void(tesel::CClient&)>& edit);

    std::string getPin() const;
    void setPin(const std::string& pin);

private:
    void setCurrent(Connection connection);

    mutable std::mutex m_mutex;
    Connection m_connection;
    tesel::CClient m_card;
    std::string m_pin;
};
