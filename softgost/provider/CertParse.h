// X.509 decoding for the crypt32 calls: on OpenSSL's decoder on Linux
// (CertParse_posix.cpp), on crypt32's own on Windows (CertParse_win.cpp).
// This header holds no OpenSSL or CryptoAPI types so that either side can
// include it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace plcsp {

using Bytes = std::vector<unsigned char>;

struct ParsedCert {
    unsigned version = 0;            // 0 = v1, 2 = v3
    Bytes serialLE;                  // the INTEGER's content bytes, last first
    std::string sigAlgOid;
    Bytes sigAlgParams;              // DER, empty when absent
    Bytes issuer;                    // DER Name
    Bytes subject;
    std::int64_t notBefore = 0;      // seconds since 1970 (UTC)
    std::int64_t notAfter = 0;
    std::string spkiAlgOid;
    Bytes spkiAlgParams;             // DER, empty when absent
    Bytes spkiKey;                   // BIT STRING content without the unused-bits byte
    unsigned spkiUnusedBits = 0;
    Bytes issuerUid;
    Bytes subjectUid;
    struct Extension {
        std::string oid;
        bool critical = false;
        Bytes value;                 // content of extnValue
    };
    std::vector<Extension> extensions;
};

// A whole DER certificate (nothing may follow it).
bool parseCertificate(const unsigned char* der, std::size_t n, ParsedCert& out);

// The raw key value of an SPKI public key BIT STRING content holding an
// OCTET STRING (the GOST encoding); false when it is not one.
bool gostKeyValue(const Bytes& spkiKey, Bytes& value);

// Length of the DER TLV starting at p, read from its header only (for the
// CryptoAPI calls that take a certificate without its length); 0 when the
// header is not a SEQUENCE with a definite length.
std::size_t derLengthFromHeader(const unsigned char* p);

}  // namespace plcsp
