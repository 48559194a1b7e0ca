// A PKCS#10 certification request for a GOST key, built from a client card:
// the subject attributes with their string types, the purposes, policies and
// signing tool the request asks for, and the DER encoding of the whole
// request. The key pair lives in a provider: its public key export goes in,
// and the provider signs the to-be-signed part afterwards
// (qn::crypto::Crypto::signAndEncodePkcs10).
#pragma once

#include <string>
#include <vector>

#include "core/CBlob.h"
#include "crypto/eSupportCP.h"
#include "pki/Map.h"

namespace tesel {

class CClient;

class RequestPKCS10 {
public:
    // Fills the lists from the card (replacing what they held). 0, or 3
    // when csp is CP_NONE: the lists are filled then too, but without
    // signing tool and policies.
    int fillFromClient(const CClient& card, qn::crypto::eSupportCP csp);

    // The complete request into request, with a placeholder signature of the
    // kind's signature size at its end, and the CertificationRequestInfo
    // into toBeSigned. 0; the error of encodeDistinguishedName; or 70 when
    // the kind is unknown or the public key export is malformed.
    int createCSR(qn::crypto::eSupportCP csp, const BLOB& publicKeyExport, CBlob& request,
                  CBlob& toBeSigned) const;

    // The subject: one RDN per attribute, in list order. 1 without any
    // attribute, -1 for an attribute OID outside eOID, else 0.
    int encodeDistinguishedName(CBlob* out) const;
    // The extension request attribute inside [0].
    int encodeAttributes(qn::crypto::eSupportCP csp, CBlob* out) const;
    // SubjectPublicKeyInfo from a CryptoAPI GOST public key blob; 70 when
    // the kind is unknown or the blob is malformed (its parameter TLVs run
    // past its end or its key value is not the kind's key size).
    int encodeSignInfo(qn::crypto::eSupportCP csp, const BLOB& publicKeyExport, CBlob* out) const;

    const std::string& getSignTool() const { return m_signTool; }
    void setSignTool(const std::string& tool) { m_signTool = tool; }
    std::vector<Map>& getCertAttribs() { return m_attribs; }
    const std::vector<Map>& getCertAttribs() const { return m_attribs; }
    // Extended key usage OIDs, in request order.
    std::vector<std::string>& getPurposes() { return m_purposes; }
    const std::vector<std::string>& getPurposes() const { return m_purposes; }
    // Certificate policy OIDs, in request order.
    std::vector<std::string>& getPolicies() { return m_policies; }
    const std::vector<std::string>& getPolicies() const { return m_policies; }

private:
    std::vector<Map> m_attribs;
    std::vector<std::string> m_purposes;
    std::vector<std::string> m_policies;
    std::string m_signTool;
};

}  // namespace tesel
