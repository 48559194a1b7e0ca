// Decoding of the certificate structures that CryptDecodeObject serves
// (names, extended key usage, authority key identifier), on OpenSSL's ASN.1
// decoder. Like CertParse.h this header holds no OpenSSL or CryptoAPI types:
// OpenSSL's X509_NAME type and CryptoAPI's X509_NAME constant cannot meet in
// one file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "softgost/provider/CertParse.h"

namespace plcsp {

// One attribute of a relative distinguished name. tag is the universal tag
// of a string value (12 UTF8String, 18 NumericString, 19 PrintableString,
// 20 TeletexString, 21 VideotexString, 22 IA5String, 25 GraphicString,
// 26 VisibleString, 27 GeneralString, 28 UniversalString, 30 BMPString) with
// its content bytes as value; any other value has tag kEncodedValue and its
// whole DER as value.
struct NameAttr {
    std::string oid;
    int tag = 0;
    Bytes value;
};
inline constexpr int kEncodedValue = -1;
using NameRdn = std::vector<NameAttr>;

// A whole DER Name (nothing may follow it), RDN by RDN in encoded order.
bool decodeName(const unsigned char* p, std::size_t n, std::vector<NameRdn>& out);

// A whole DER ExtKeyUsageSyntax: the purposes' dotted OIDs in order.
bool decodeEnhancedKeyUsage(const unsigned char* p, std::size_t n, std::vector<std::string>& oids);

// One GeneralName, with the choice numbered as CryptoAPI numbers it
// (1 otherName, 2 rfc822Name, 3 dNSName, 5 directoryName, 7 URI,
// 8 iPAddress, 9 registeredID). text: the IA5 text of 2, 3, 7, the OID of 9
// and of 1; data: the DER Name of 5, the address of 8, the DER value of 1.
struct GeneralNameItem {
    int choice = 0;
    std::string text;
    Bytes data;
};

struct AuthorityKeyId {
    Bytes keyId;                          // empty when absent
    std::vector<GeneralNameItem> issuer;  // authorityCertIssuer
    Bytes serialLE;                       // authorityCertSerialNumber content, last byte first
};

// A whole DER AuthorityKeyIdentifier. Names of the x400Address and
// ediPartyName kinds are not supported (false).
bool decodeAuthorityKeyId(const unsigned char* p, std::size_t n, AuthorityKeyId& out);

}  // namespace plcsp
