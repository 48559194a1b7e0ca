#include "webpackets/ControllerClientQn.h"

#include <utility>

#include "app/Settings.h"
#include "crypto/CertContextPtr.h"
#include "crypto/ControllerPKIClient.h"
#include "crypto/CryptoApi.h"
#include "crypto/CryptoBase.h"
#include "crypto/CryptoCert.h"
#include "crypto/CspAlgorithms.h"
#include "crypto/UserCspInfo.h"
#include "errors/eErrCodes.h"
#include "pki/RequestPKCS10.h"
#include "platform/wincrypt.h"
#include "transport/CHttpRegisterPKCS10Request.h"
#include "transport/CPacketOutRequest.h"
#include "transport/CPacket_PKCS10_Client.h"
#include "transport/TransportServer.h"

using qn::crypto::Crypto1By1Connect;
using qn::crypto::eSupportCP;
using tesel::CBlob;

namespace {

// Runs a Crypto1By1Connect factory and pairs the result with the CA.
template <class Factory>
unsigned openPaired(ControllerClientQn::Connection& out, Factory factory) {
    Crypto1By1Connect* raw = nullptr;
    unsigned r = factory(&raw);
    ControllerClientQn::Connection connection(raw);
    if (!connection) return ERR_INTERNAL;
    if (r != ERR_OK) return r;
    r = qn::crypto::ControllerPKIClient::instance().loadlCertCA(*connection);
    if (r != ERR_OK) return r;
    out = std::move(connection);
    return ERR_OK;
}

}  // namespace

ControllerClientQn& ControllerClientQn::instance() {
    // Never destroyed: service threads may still be running a command at exit.
    static ControllerClientQn* const controller = new ControllerClientQn();
    return *controller;
}

void ControllerClientQn::setCurrent(Connection connection) {
    Connection old;
    std::lock_guard<std::mutex> lock(m_mutex);
    old = std::exchange(m_connection, std::move(connection));
}

ControllerClientQn::Connection ControllerClientQn::getCrypto() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_connection;
}

unsigned ControllerClientQn::createCrypto(const std::string& container, Connection* made) {
    return createCrypto(container, getClientInfo(), made);
}

unsigned ControllerClientQn::createCrypto(const std::string& container, const tesel::CClient& card, Connection* made) {
    eSupportCP kind = card.getCSP();
    if (kind == qn::crypto::CP_NONE) {
        kind = qn::crypto::convertToGost2012(getRequestedCSP());
    } else if (qn::crypto::getSupportCryptoInterface(kind) == 0) {
        return ERR_INTERNAL;  // a kind from the page that no provider serves
    }
    Connection connection;
    const unsigned r = openPaired(
        connection, [&](Crypto1By1Connect** out) { return Crypto1By1Connect::create(container, kind, out); });
    if (r != ERR_OK) return r;
    if (made) *made = connection;
    setCurrent(std::move(connection));
    return ERR_OK;
}

unsigned ControllerClientQn::initCrypto(const std::string& container, eSupportCP kind, Connection* made) {
    Connection connection;
    const unsigned r = openPaired(
        connection, [&](Crypto1By1Connect** out) { return Crypto1By1Connect::init(container, kind, out); });
    if (r != ERR_OK) return r;
    if (made) *made = connection;
    setCurrent(std::move(connection));
    return ERR_OK;
}

unsigned ControllerClientQn::buildCreateClientP10Packet(CBlob& out) {
    return buildCreateClientP10Packet(getCrypto(), getClientInfo(), out);
}

unsigned ControllerClientQn::buildCreateClientP10Packet(const Connection& connection, const tesel::CClient& card,
                                                        CBlob& out) const {
    tesel::RequestPKCS10 request;
    if (const int r = request.fillFromClient(card, card.getCSP())) return static_cast<unsigned>(r);
    if (!connection) return ERR_CSP_NOT_INITIALIZED;
    return connection->signAndEncodePkcs10(request, out);
}

unsigned ControllerClientQn::buildPkcs10QnRequest(const CBlob& p10, const std::string& pin, CBlob& out) {
    return buildPkcs10QnRequest(getCrypto(), getClientInfo(), p10, pin, out);
}

unsigned ControllerClientQn::buildPkcs10QnRequest(const Connection& connection, const tesel::CClient& card,
                                                  const CBlob& p10, const std::string& pin, CBlob& out) const {
    if (!connection) return ERR_CSP_NOT_INITIALIZED;
    qn::crypto::UserCspInfo info;
    if (const unsigned r = connection->getCspInfo(info)) return r;
    CBlob cspInfo;
    info >> cspInfo;
    CHttpRegisterPKCS10Request request(p10, card.getConvertId(), pin, cspInfo, *connection);
    return static_cast<unsigned>(request.buildRequest(out));
}

unsigned ControllerClientQn::getContainerFullPath(std::string& out) const {
    return getContainerFullPath(getCrypto(), out);
}

unsigned ControllerClientQn::getContainerFullPath(const Connection& connection, std::string& out) {
    if (!connection) return ERR_CSP_NOT_INITIALIZED;
    return connection->getUniqueContainer(out);
}

unsigned ControllerClientQn::addCertToPersonalStore(const CBlob& certificate, const std::string& container,
                                                    eSupportCP kind) {
    const CERT_CONTEXT* raw = nullptr;
    if (qn::crypto::CryptoBase::blobToCertificate(certificate, &raw) != ERR_OK) return ERR_CERT_DAMAGED;
    const qn::crypto::CertContextPtr cert = qn::crypto::adoptCert(raw);
    // Set before adding: the store keeps the properties the context has.
    if (qn::crypto::getSupportCryptoInterface(kind) == 1 &&
        !qn::crypto::CryptoApi::linkCertToContainer(cert.get(), container, kind)) {
        return ERR_CERT_STORE_OPEN;
    }
    tesel::CryptoCert store;
    return store.openStore(tesel::kStoreMY) && store.addCertToStore(cert.get()) ? ERR_OK : ERR_CERT_STORE_OPEN;
}

unsigned ControllerClientQn::loadReleasedCert(const std::string& uuid, const std::string& container,
                                              eSupportCP kind) {
    CPacketOutRequest request(uuid);
    if (const int r = getTransportServer().send(request)) return static_cast<unsigned>(r);
    Connection connection;
    if (const unsigned r = initCrypto(container, kind, &connection)) return r;
    CBlob payload;
    if (const int r = request.decode(payload, *connection)) return static_cast<unsigned>(r);
    // Read as a request answer, a renewal answer's message would stand where
    // the certificate is expected, and its response could remove the key.
    if (request.getPackageType() != tesel::PT_CERTIFICATE) return ERR_PACKET_DAMAGED;
    CPacket_PKCS10_Client answer;
    if (const int r = answer.deserializeServerAnswer(&payload)) return static_cast<unsigned>(r);
    if (answer.getResponse() != tesel::CLIENT_RESPONSE_APPROVED) {
        // Rejected: the key pair is of no use any more, and nothing is installed.
        connection->removeKeyPair(container);
        return ERR_REQUEST_HAS_ERRORS;
    }
    if (const unsigned r = qn::crypto::ControllerPKI::checkCertificateKey(answer.getUserCert(), *connection)) return r;
    if (const unsigned r = connection->addCertToContainer(answer.getUserCert())) return r;
    return addCertToPersonalStore(answer.getUserCert(), container, kind);
}

unsigned ControllerClientQn::uploadCertToContainer(const CBlob& certificate, const std::string& container,
                                                   eSupportCP kind) {
    Connection connection;
    if (const unsigned r = initCrypto(container, kind, &connection)) return r;
    if (const unsigned r = qn::crypto::ControllerPKI::checkCertificateKey(certificate, *connection)) return r;
    return connection->addCertToContainer(certificate);
}

unsigned ControllerClientQn::decryptReleasedCert(CBlob packet, const std::string& container, eSupportCP kind,
                                                 CBlob& out) {
    Connection connection;
    if (const unsigned r = initCrypto(container, kind, &connection)) return r;
    return static_cast<unsigned>(qn::http_transport::decryptPacketOut(std::move(packet), out, *connection));
}

tesel::CClient ControllerClientQn::getClientInfo() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_card;
}

void ControllerClientQn::setClientInfo(const tesel::CClient& card) {
    tesel::CClient copy = card;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::swap(m_card, copy);
}

void ControllerClientQn::withClientInfo(const std::function<void(tesel::CClient&)>& edit) {
    std::lock_guard<std::mutex> lock(m_mutex);
    edit(m_card);
}

std::string ControllerClientQn::getPin() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pin;
}

void ControllerClientQn::setPin(const std::string& pin) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pin = pin;
}
