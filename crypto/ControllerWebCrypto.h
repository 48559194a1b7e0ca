// The key connections the web commands sign and encrypt with: the user
// connection (the selected certificate's key, paired with the CA) and the
// new-container connection (a key container being created for a
// certificate request). Connections are handed out as shared pointers, so
// one that is replaced stays usable for the command that holds it; the
// slots themselves are guarded by a lock.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "crypto/CertContextPtr.h"
#include "crypto/Crypto1By1Connect.h"
#include "crypto/eCertStore.h"

namespace qn::crypto {

class ControllerWebCrypto {
public:
    // The process-wide controller, created on first use.
    static std::shared_ptr<ControllerWebCrypto> instance();

    // The user's selected certificate as one whole: its key connection
    // (paired with the CA), the certificate, the key's CSP kind and its
    // container's unique name (empty when the provider cannot name it).
    struct UserSelection {
        std::shared_ptr<Crypto1By1Connect> connection;
        CertContextPtr cert;
        eSupportCP csp = CP_NONE;
        std::string container;
    };

    ControllerWebCrypto() = default;
    ControllerWebCrypto(const ControllerWebCrypto&) = delete;
    ControllerWebCrypto& operator=(const ControllerWebCrypto&) = delete;

    // Opens the certificate's key and pairs it with the CA (loadlCertCA of
    // the program's PKI controller); only when both succeed does it become
    // the user connection. The first failing status is returned.
    unsigned init(const CERT_CONTEXT* cert, tesel::eCertStore store);
    // Selects cert: opens its key and pairs it with the CA outside the lock,
    // then under one lock makes the whole selection current and runs publish
    // with it (the caller's other records of the selection: the PKI index,
    // the current CSP and container), so that a login of another tab never
    // leaves connection, certificate, CSP and container of different
    // certificates. *made receives the selection this call made.
    unsigned selectUser(const CERT_CONTEXT* cert, tesel::eCertStore store,
                        const std::function<void(const UserSelection&)>& publish, UserSelection* made = nullptr);
    // The current selection, read as one.
    UserSelection getUserSelection() const;
    // Opens an existing container; on success it becomes the new-container
    // connection (and *made, when given, receives it).
    unsigned initNewContainer(const std::string& container, eSupportCP kind,
                              std::shared_ptr<Crypto1By1Connect>* made = nullptr);
    // Creates the container with a new key pair for the GOST 2012 kind of
    // the requested provider kind of the settings; on success it becomes the
    // new-container connection, and *made (when given) receives it: another
    // tab may make a new-container connection of its own before the caller
    // reads the slot again.
    unsigned create(const std::string& container, std::shared_ptr<Crypto1By1Connect>* made = nullptr);
    // The same for a given requested kind (converted to GOST 2012 as above).
    unsigned create(const std::string& container, eSupportCP requested,
                    std::shared_ptr<Crypto1By1Connect>* made = nullptr);

    // The user connection / the new-container connection; null until set.
    std::shared_ptr<Crypto1By1Connect> getCrypto_2001() const;
    std::shared_ptr<Crypto1By1Connect> getCrypto_2012() const;

private:
    unsigned createGeneric(const std::string& container, eSupportCP kind, std::shared_ptr<Crypto1By1Connect>* made);
    void setNewContainer(std::shared_ptr<Crypto1By1Connect> connection);

    mutable std::mutex m_mutex;
    std::shared_ptr<Crypto1By1Connect> m_user;
    UserSelection m_selection;
    std::shared_ptr<Crypto1By1Connect> m_newContainer;
};

}  // namespace qn::crypto
