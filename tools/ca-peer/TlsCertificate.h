// The HTTPS certificate of the peer's demo server: one given as PEM files,
// or one made here for 127.0.0.1 and localhost (self-signed, ECDSA P-256),
// kept in a folder so that later starts serve the same certificate.
#pragma once

#include <string>

namespace capeer {

struct TlsIdentity {
    std::string certificatePem;  // the certificate (and any chain after it)
    std::string privateKeyPem;
    std::string certificateFile;  // where it was read from or written to
};

// Reads certFile and keyFile; both must be given together.
bool loadTlsIdentity(const std::string& certFile, const std::string& keyFile, TlsIdentity& out, std::string& error);

// Reads folder/tls-cert.pem and folder/tls-key.pem when both are there and
// the certificate is still valid for at least a day; otherwise makes a new
// pair, valid for 365 days, and writes it there (the key owner-only).
bool loadOrMakeTlsIdentity(const std::string& folder, TlsIdentity& out, std::string& error);

}  // namespace capeer
