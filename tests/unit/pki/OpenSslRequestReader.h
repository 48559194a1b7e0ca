// Reads a DER certification request with OpenSSL's decoder, independently
// of the request builder. The header carries no OpenSSL types, so tests can
// include it beside the CryptoAPI-shaped headers (whose X509_NAME is a
// CryptoAPI constant).
#pragma once

#include <string>
#include <vector>

namespace ossl {

using Bytes = std::vector<unsigned char>;

struct NameEntry {
    std::string oid;
    std::string type;   // ASN.1 string type as OpenSSL names it: "UTF8STRING", "NUMERICSTRING" ...
    std::string value;  // the string's bytes
    int rdn = -1;       // index of the RDN that holds the entry
};

struct Extension {
    std::string oid;
    bool critical = false;
    Bytes value;  // contents of the OCTET STRING
};

struct Request {
    bool decoded = false;     // the bytes are a request
    bool consumedAll = false;  // and nothing follows it
    std::vector<NameEntry> subject;
    std::string publicKeyAlgorithm;
    Bytes publicKey;  // contents of the subjectPublicKey BIT STRING
    std::vector<Extension> extensions;
    // Decoded values of the extensions the request builder writes (empty
    // when the extension is absent or does not decode).
    std::vector<std::string> policies;
    std::vector<std::string> purposes;
    std::string signTool;
    std::vector<int> keyUsageBits;  // bits 0 to 8
};

Request readRequest(const Bytes& der);

}  // namespace ossl
