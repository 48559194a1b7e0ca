#include "crypto/ControllerWebCrypto.h"

#include <algorithm>
#include <vector>

#include "app/Settings.h"
#include "crypto/ControllerPKIClient.h"
#include "crypto/CspAlgorithms.h"
#include "errors/eErrCodes.h"

namespace qn::crypto {

namespace {

// Runs a Crypto1By1Connect factory; the result is owned either way.
template <class Factory>
unsigned open(std::shared_ptr<Crypto1By1Connect>& out, Factory factory) {
    Crypto1By1Connect* raw = nullptr;
    const unsigned r = factory(&raw);
    out.reset(raw);
    return out ? r : static_cast<unsigned>(ERR_INTERNAL);
}

}  // namespace

std::shared_ptr<ControllerWebCrypto> ControllerWebCrypto::instance() {
    // Never released: service threads may still be using it at exit.
    static const auto* const controller =
        new std::shared_ptr<ControllerWebCrypto>(std::make_shared<ControllerWebCrypto>());
    return *controller;
}

unsigned ControllerWebCrypto::init(const CERT_CONTEXT* cert, tesel::eCertStore store) {
    return selectUser(cert, store, nullptr);
}

unsigned ControllerWebCrypto::selectUser(const CERT_CONTEXT* cert, tesel::eCertStore store,
                                         const std::function<void(const UserSelection&)>& publish,
                                         UserSelection* made) {
    UserSelection selection;
    unsigned r =
        open(selection.connection, [&](Crypto1By1Connect** out) { return Crypto1By1Connect::init(cert, store, out); });
    if (r != ERR_OK) return r;
    r = ControllerPKIClient::instance().loadlCertCA(*selection.connection);
    if (r != ERR_OK) return r;
    selection.cert = holdCert(cert);
    selection.csp = selection.connection->getCSP();
    // A provider that cannot name its container leaves the name empty; the
    // key itself does not depend on it.
    if (selection.connection->getUniqueContainer(selection.container) != ERR_OK) selection.container.clear();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_user = selection.connection;
    m_selection = selection;
    if (publish) publish(selection);
    if (made) *made = std::move(selection);
    return ERR_OK;
}

ControllerWebCrypto::UserSelection ControllerWebCrypto::getUserSelection() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_selection;
}

unsigned ControllerWebCrypto::initNewContainer(const std::string& container, eSupportCP kind,
                                               std::shared_ptr<Crypto1By1Connect>* made) {
    std::shared_ptr<Crypto1By1Connect> connection;
    const unsigned r =
        open(connection, [&](Crypto1By1Connect** out) { return Crypto1By1Connect::init(container, kind, out); });
    if (r == ERR_OK) {
        if (made) *made = connection;
        setNewContainer(std::move(connection));
    }
    return r;
}

unsigned ControllerWebCrypto::create(const std::string& container, std::shared_ptr<Crypto1By1Connect>* made) {
    return create(container, getRequestedCSP(), made);
}

unsigned ControllerWebCrypto::create(const std::string& container, eSupportCP requested,
                                     std::shared_ptr<Crypto1By1Connect>* made) {
    const eSupportCP kind = convertToGost2012(requested);
    if (getSupportCryptoInterface(kind) == 2) {
        // A token: the container is created, and when the token lists it
        // afterwards it is opened again by name.
        std::shared_ptr<Crypto1By1Connect> connection;
        unsigned r = open(connection,
                          [&](Crypto1By1Connect** out) { return Crypto1By1Connect::create(container, kind, out); });
        if (r != ERR_OK) {
            return r;
        }
        setNewContainer(connection);
        std::vector<std::string> names;
        r = connection->getContainersList(names);
        if (r != ERR_OK) {
            return r;
        }
        if (std::find(names.begin(), names.end(), container) != names.end()) {
            return initNewContainer(container, kind, made);
        }
    }
    return createGeneric(container, kind, made);
}

unsigned ControllerWebCrypto::createGeneric(const std::string& container, eSupportCP kind,
                                            std::shared_ptr<Crypto1By1Connect>* made) {
    std::shared_ptr<Crypto1By1Connect> connection;
    const unsigned r =
        open(connection, [&](Crypto1By1Connect** out) { return Crypto1By1Connect::create(container, kind, out); });
    if (r == ERR_OK) {
        if (made) *made = connection;
        setNewContainer(std::move(connection));
    }
    return r;
}

void ControllerWebCrypto::setNewContainer(std::shared_ptr<Crypto1By1Connect> connection) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_newContainer = std::move(connection);
}

std::shared_ptr<Crypto1By1Connect> ControllerWebCrypto::getCrypto_2001() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_user;
}

std::shared_ptr<Crypto1By1Connect> ControllerWebCrypto::getCrypto_2012() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_newContainer;
}

}  // namespace qn::crypto
