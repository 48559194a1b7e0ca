// The other party of a key agreement: its public key blob and imported key,
// the agreed key, its certificate's serial number and the agreed key's IV.
#pragma once

#include <cstdint>

#include "core/CBlob.h"

namespace qn::crypto {

// Key and provider handles as they cross the provider interface: a CryptoAPI
// HCRYPTKEY or a PKCS#11 object handle. Pointer-sized, as HCRYPTKEY is.
using CryptoHandle = std::uintptr_t;

class Crypto2SideInfo {
public:
    tesel::CBlob getPublicKeyBlob() const { return m_publicKeyBlob; }
    void setPublicKeyBlob(const tesel::CBlob& b) { m_publicKeyBlob = b; }
    CryptoHandle getPublicKey() const { return m_publicKey; }
    void setPublicKey(CryptoHandle h) { m_publicKey = h; }
    CryptoHandle getAgreeKey() const { return m_agreeKey; }
    void setAgreeKey(CryptoHandle h) { m_agreeKey = h; }
    tesel::CBlob getCertSN() const { return m_certSN; }
    void setCertSN(const tesel::CBlob& b) { m_certSN = b; }
    tesel::CBlob getAgreeKeyIV() const { return m_agreeKeyIV; }
    void setAgreeKeyIV(const tesel::CBlob& b) { m_agreeKeyIV = b; }

private:
    tesel::CBlob m_publicKeyBlob;
    CryptoHandle m_publicKey = 0;
    CryptoHandle m_agreeKey = 0;
    tesel::CBlob m_certSN;
    tesel::CBlob m_agreeKeyIV;
};

}  // namespace qn::crypto
