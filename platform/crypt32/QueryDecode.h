// Recognising the objects that CryptQueryObject reads (a certificate, a
// certificate revocation list, a PKCS#7 SignedData message; binary or
// Base64) and decoding a revocation list, on OpenSSL's decoder. No OpenSSL
// or CryptoAPI types here (see Asn1Decode.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "softgost/provider/CertParse.h"

namespace plcsp {

enum class QueryContent { None, Certificate, Crl, Pkcs7Signed };

// Which contents and formats the caller accepts.
struct QueryWanted {
    bool cert = false;
    bool crl = false;
    bool pkcs7 = false;
    bool binary = false;
    bool base64 = false;
};

struct QueryFound {
    QueryContent content = QueryContent::None;
    bool base64 = false;
    Bytes der;                 // the whole object, decoded from Base64 where it was
    std::vector<Bytes> certs;  // the certificate, or those a PKCS#7 message carries, in order
};

// The first accepted reading of the blob: binary before Base64, and in each
// a certificate, then a list, then a PKCS#7 message. The object must fill
// the blob (nothing may follow it). False when no accepted reading fits.
bool identifyObject(const unsigned char* p, std::size_t n, const QueryWanted& wanted, QueryFound& out);

struct ParsedCrl {
    unsigned version = 0;          // 0 = v1, 1 = v2
    std::string sigAlgOid;
    Bytes issuer;                  // DER Name
    std::int64_t thisUpdate = 0;   // seconds since 1970 (UTC)
    std::int64_t nextUpdate = 0;   // 0 when absent
    struct Entry {
        Bytes serialLE;            // the INTEGER's content bytes, last first
        std::int64_t revoked = 0;
    };
    std::vector<Entry> entries;
};

// A whole DER certificate revocation list.
bool parseCrl(const unsigned char* p, std::size_t n, ParsedCrl& out);

}  // namespace plcsp
