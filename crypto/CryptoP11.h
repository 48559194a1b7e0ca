// The provider for the PKCS#11 token kinds (-1, -3, -4 JaCarta; -5, -6, -7
// Rutoken). Everything secret happens on the token; the provider builds the
// templates and mechanism parameters, converts between the token's values
// and the CryptoAPI blob layouts, and maps every PKCS#11 failure to the
// fixed catalog code of its step.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crypto/CryptoBase.h"
#include "crypto/CryptoP11_Cache.h"
#include "crypto/P11Session.h"
#include "crypto/eCertStore.h"
#include "crypto/eDeviceP11Type.h"

namespace qn::crypto {

class CryptoP11 : public CryptoBase {
public:
    ~CryptoP11() override;
    CryptoP11& operator=(const CryptoP11&) = delete;

    // Factories. init(kind) opens a session without keys (certificate
    // listing); init(container, kind) also loads the container's key pair;
    // create generates one. These hand the object out through out before the
    // first step that can fail (the caller owns it either way).
    static unsigned init(eSupportCP kind, CryptoP11** out);
    static unsigned init(const std::string& container, eSupportCP kind, CryptoP11** out);
    // The key pair of a certificate on the token of store 1 (JaCarta) or 2
    // (Rutoken); *out is set only on success. 1 for another store, 16 when
    // the certificate or its keys are not on the token.
    static unsigned init(const CERT_CONTEXT* cert, tesel::eCertStore store, CryptoP11** out);
    static unsigned create(const std::string& container, eSupportCP kind, CryptoP11** out);
    // Deletes the container's three objects (key pair and certificate) when
    // exactly three carry its label.
    static unsigned remove(const std::string& container, eSupportCP kind);

    static eDeviceP11Type getDeviceP11Type(eSupportCP kind);
    // Key pair generation mechanism and CKA_KEY_TYPE of the kind; -1 for
    // other kinds.
    static CK_MECHANISM_TYPE getKeyGenAlg(eSupportCP kind);
    static CK_KEY_TYPE getKeySizeAlg(eSupportCP kind);
    static std::string getDefaultPin(eDeviceP11Type type);
    // The certificates on the provider's token under 0, 1, 2... (at most 10).
    static unsigned getCertList(std::map<unsigned, const CERT_CONTEXT*>& certs, CryptoP11* provider);

    unsigned auth();
    unsigned loadPkcs11Lib();
    unsigned login();
    // The first usable slot; false when there is none or a token cannot be
    // asked.
    bool findGostSlot(const CK_SLOT_ID* slots, CK_ULONG count, CK_TOKEN_INFO& info);
    unsigned loadKeyPair(const std::string& label);
    unsigned findObjects(const std::string& label, CK_OBJECT_HANDLE* handles, CK_ULONG& count,
                         CK_ULONG max) const;
    unsigned findObjects(CK_ATTRIBUTE* attributes, CK_ULONG attributeCount, CK_OBJECT_HANDLE* handles,
                         CK_ULONG& count, CK_ULONG max) const;
    unsigned findKey(const CK_ATTRIBUTE& id, CK_OBJECT_CLASS keyClass, CK_OBJECT_HANDLE& handle) const;
    unsigned findByCert(const CERT_CONTEXT* cert, eSupportCP kind);
    void setCSP(eSupportCP kind) override;
    void setUniqueName(const std::string& name) { m_uniqueName = name; }

    unsigned release() override;
    unsigned getCspVersion(std::string& out) const override;
    unsigned getPublicKeyBlob(tesel::CBlob& out) const override;
    unsigned signMessage(const tesel::CBlob& data, tesel::CBlob& out) const override;
    unsigned getUniqueContainer(std::string& out) const override;
    unsigned encryptMessage(const tesel::CBlob& plain, Crypto2SideInfo& peer, tesel::CBlob& out) override;
    unsigned encrypt(const tesel::CBlob& plain, CryptoHandle sessionKey, const tesel::CBlob& iv,
                     tesel::CBlob& out) override;
    unsigned decryptMessage(const tesel::CBlob& message, Crypto2SideInfo& peer, tesel::CBlob& out) override;
    unsigned decrypt(const tesel::CBlob& cipher, CryptoHandle sessionKey, const tesel::CBlob& iv,
                     tesel::CBlob& out) override;
    unsigned createSessionKey(CryptoHandle& sessionKey, tesel::CBlob& iv) override;
    unsigned addCertToContainer(const tesel::CBlob& cert) override;
    unsigned importPublicKey2Side(const tesel::CBlob& peerBlob, Crypto2SideInfo& peer) override;
    unsigned verifySignMessage(const tesel::CBlob& signedData, CryptoHandle peerKey) const override;
    unsigned getCspInfo(UserCspInfo& out) const override;
    unsigned getContainersList(std::vector<std::string>& names) const override;
    unsigned getContainersAllList(std::vector<std::string>& names,
                                  std::vector<std::string>& fullNames) const override;
    std::shared_ptr<CryptoProviderQn> clone() const override;
    unsigned removeKeyPair(const std::string& container) override;
    void releaseHandle(CryptoHandle handle) override;

    unsigned signMessage_2001(const tesel::CBlob& data, tesel::CBlob& out) const;
    unsigned signMessage_2012(const tesel::CBlob& data, tesel::CBlob& out) const;
    // Makes the peer's public key a session object of the token: 0 or 10.
    unsigned setPublicKey2Side(const tesel::CBlob& peerBlob, Crypto2SideInfo& peer);
    // The key-encryption key agreed with the peer for one UKM: 0 or 8; 0 and
    // no key when no private key is open.
    unsigned createAgreeKey(const tesel::CBlob& peerBlob, const tesel::CBlob& ukm, CK_OBJECT_HANDLE& agreed);
    // The session key wrapped under the agreed key as a SIMPLEBLOB: 0 or 13.
    unsigned exportSessionKey(CK_OBJECT_HANDLE key, CK_OBJECT_HANDLE agreed, const tesel::CBlob& ukm,
                              tesel::CBlob& blob);
    // Reads the key blob and IV at the start of an encrypted message and
    // unwraps the session key; offset ends behind the IV. 0, 7 or 8.
    unsigned importSessionKey(const tesel::CBlob& data, unsigned& offset, const tesel::CBlob& peerBlob,
                              CK_OBJECT_HANDLE& key, tesel::CBlob& iv);
    unsigned encryptOnRutoken(const tesel::CBlob& plain, tesel::CBlob& out);
    unsigned decryptOnRutoken(const tesel::CBlob& cipher, tesel::CBlob& out);

    eDeviceP11Type getDeviceType() const { return m_deviceType; }
    CK_SLOT_ID getSlot() const { return m_slot; }
    CK_OBJECT_HANDLE getPublicKeyHandle() const { return m_publicKey; }
    CK_OBJECT_HANDLE getPrivateKeyHandle() const { return m_privateKey; }
    CK_FUNCTION_LIST_PTR getFunctions() const { return m_functions; }

private:
    CryptoP11() = default;
    CryptoP11(const CryptoP11&) = default;  // clone: the session is shared
    // A new provider of the kind (setCSP, device type) named after the
    // container.
    static CryptoP11* make(eSupportCP kind, const std::string& name);
    CK_SESSION_HANDLE session() const { return static_cast<CK_SESSION_HANDLE>(m_provider); }
    // Held while an operation runs on the session (no-op without one).
    std::unique_lock<std::recursive_mutex> lockSession() const;
    void destroyObject(CK_OBJECT_HANDLE handle) const;
    // The one object that matches: 0, 16 (none) or 17 (more than one).
    unsigned findOne(CK_ATTRIBUTE* attributes, CK_ULONG attributeCount, CK_OBJECT_HANDLE& handle) const;
    // Signs input (the data or its hash) with the private key; out is data
    // followed by the signature with its bytes reversed. 0 or 12.
    unsigned signAppended(CK_MECHANISM& mechanism, unsigned char* input, CK_ULONG inputLen, const tesel::CBlob& data,
                          tesel::CBlob& out) const;
    // Single-part GOST 28147-89 (Rutoken): a size query, then the data.
    unsigned cryptWhole(const tesel::CBlob& in, bool encrypt, tesel::CBlob& out);
    // Multi-part GOST 28147-89 in pieces of 1024 bytes (JaCarta).
    unsigned cryptInPieces(const tesel::CBlob& in, bool encrypt, tesel::CBlob& out);

    std::string m_pin;
    CK_OBJECT_HANDLE m_publicKey = 0;
    CK_OBJECT_HANDLE m_privateKey = 0;
    std::shared_ptr<CryptoP11_Cache> m_cache;
    HMODULE m_module = nullptr;
    CK_SLOT_ID m_slot = 0;
    CK_FUNCTION_LIST_PTR m_functions = nullptr;
    eDeviceP11Type m_deviceType = P11_DEVICE_NONE;
    std::string m_uniqueName;
    std::shared_ptr<P11Session> m_session;
};

}  // namespace qn::crypto
