// A test certification authority on OpenSSL with the GOST engine: it issues
// certificates with chosen subjects (string kinds as given), serial numbers,
// validity, authority key identifiers and purposes, and revocation lists.
// The header carries no OpenSSL types, so tests include it beside the
// CryptoAPI-shaped headers.
#pragma once

#include <string>
#include <vector>

#include "GostOracle.h"

namespace testca {

using Bytes = std::vector<unsigned char>;

// String kinds by universal tag.
enum Kind : int { UTF8 = 12, NUMERIC = 18, PRINTABLE = 19, TELETEX = 20, IA5 = 22, BMP = 30 };

struct Attr {
    std::string oid;
    int kind = UTF8;
    std::string utf8;      // BMP values are written as UTF-16BE, others as these bytes
    bool sameRdn = false;  // joins the previous RDN (a multi-valued RDN)
};

struct Extension {
    std::string oid;
    bool critical = false;
    Bytes value;  // content of extnValue, as given
};

struct CertFields {
    std::vector<Attr> subject;
    std::vector<Attr> issuer;                 // empty: the CA's own name
    Bytes serial{0x01, 0x02, 0x03};           // big-endian, as encoded
    long long notBefore = -86400;             // seconds from now
    long long notAfter = 365LL * 86400;
    bool withKeyId = true;                    // authority key identifier with keyIdentifier
    Bytes keyId;                              // empty: the CA's key identifier
    bool akiIssuerSerial = false;             // ... with authorityCertIssuer and serial
    bool withEku = false;
    std::vector<std::string> purposes;        // extended key usage, in order
    std::vector<Extension> extra;             // raw extensions, appended last
    Bytes subjectSpki;                        // empty: a fresh key of the CA's kind
};

struct Revoked {
    Bytes serial;    // big-endian
    int reason = -1; // CRLReason, -1 for none
};

class TestCA {
public:
    explicit TestCA(oracle::Kind kind = oracle::Kind::G2012_256, std::string commonName = "Test CA");

    oracle::Kind kind() const { return m_kind; }
    const oracle::KeyPtr& key() const { return m_key; }
    // 20 bytes that identify the CA's key (in authority key identifiers).
    const Bytes& keyId() const { return m_keyId; }

    Bytes issue(const CertFields& fields) const;
    // The CA's own certificate (self-issued).
    Bytes selfCertificate(const Bytes& serial) const;
    // A revocation list; times are seconds from now.
    Bytes crl(const std::vector<Revoked>& revoked, long long thisUpdate = -3600,
              long long nextUpdate = 7LL * 86400, bool pem = false) const;
    // A certificate for the subject and key of a DER PKCS#10 request, with
    // the other values of fields. Empty when the request's signature does not
    // verify.
    Bytes issueFromRequest(const Bytes& requestDer, const CertFields& fields) const;

private:
    oracle::Kind m_kind;
    std::string m_name;
    oracle::KeyPtr m_key;
    Bytes m_keyId;
};

}  // namespace testca
