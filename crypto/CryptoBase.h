// The part common to the CryptoAPI and PKCS#11 providers: the kind and the
// algorithm settings that follow from it, and the provider handle.
#pragma once

#include "crypto/CryptoProviderQn.h"
#include "platform/wincrypt.h"

namespace qn::crypto {

class CryptoBase : public CryptoProviderQn {
public:
    eSupportCP getCSP() const override { return m_csp; }
    unsigned getSzSign() const override { return m_szSign; }
    bool isValid() const override { return m_provider != 0; }
    // Sets the kind and every setting derived from it.
    virtual void setCSP(eSupportCP kind);
    // Gives back a key handle that the caller no longer needs (the
    // connection objects release their agreement keys through it). The
    // default does nothing.
    virtual void releaseHandle(CryptoHandle handle);

    eGostCrypto getGostCrypto() const { return m_gostCrypto; }
    tesel::BLOB getHashParamSet() const { return m_hashParamSet.getBLOB(); }
    unsigned getHashAlgorithm() const { return m_hashAlgorithm; }
    tesel::BLOB getSignParamSet() const { return m_signParamSet.getBLOB(); }
    unsigned getSignAlgorithm() const { return m_signAlgorithm; }
    tesel::BLOB getCipherParamSet() const { return m_cipherParamSet.getBLOB(); }
    unsigned getCipherAlgorithm() const { return m_cipherAlgorithm; }
    CryptoHandle getProviderHandle() const { return m_provider; }

    // The certificate context of a DER or Base64 certificate, or of the first
    // certificate of a PKCS#7 SignedData message; 44 for anything else
    // (a revocation list, a serialized store, empty or damaged bytes).
    // Every caller that turns bytes into a certificate comes here. The
    // caller frees the context.
    static unsigned blobToCertificate(const tesel::CBlob& blob, const CERT_CONTEXT** out);
    static unsigned blobToCertificate(const tesel::CBlob& blob, CERT_CONTEXT** out);
    // The certificate's public key as a PUBLICKEYBLOB; 44 when the
    // certificate's key field is not an OCTET STRING.
    static unsigned publicKeyInfoFromCert(const CERT_CONTEXT* cert, tesel::CBlob& out);

protected:
    unsigned m_szSign = 0;
    eGostCrypto m_gostCrypto = GOST_UNKNOWN;
    eSupportCP m_csp = CP_NONE;
    tesel::CBlob m_hashParamSet;
    unsigned m_hashAlgorithm = 0;
    tesel::CBlob m_signParamSet;
    unsigned m_signAlgorithm = 0;
    tesel::CBlob m_cipherParamSet;
    unsigned m_cipherAlgorithm = 0;
    CryptoHandle m_provider = 0;  // HCRYPTPROV, or the PKCS#11 session
};

}  // namespace qn::crypto
