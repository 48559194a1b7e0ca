// Certificate contexts and stores shared by the crypt32 calls of this folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "softgost/provider/CertParse.h"
#include "platform/wincrypt.h"

namespace plcsp {

// A new context (one reference) for a DER certificate; null when the bytes
// are not one.
PCCERT_CONTEXT newCertContext(const Bytes& der);

// True for a context made here and not yet freed.
bool isCertContext(PCCERT_CONTEXT cert);

// Seconds since 1970 (UTC) as FILETIME (100-ns ticks since 1601).
FILETIME fileTimeOf(std::int64_t unixSeconds);

// A store that lives in memory only (as CryptQueryObject hands out). It
// takes over one reference of each context given.
HCERTSTORE newMemoryStore(const std::vector<PCCERT_CONTEXT>& certs);

// CERT_KEY_PROV_INFO_PROP_ID as the stand-in keeps it.
struct KeyProvLink {
    std::u16string container;
    bool hasProvider = false;  // false: the default provider of the type
    std::u16string provider;
    DWORD provType = 0;
    DWORD flags = 0;
    DWORD keySpec = 0;
};

// The context's link; false when it has none.
bool keyProvOf(PCCERT_CONTEXT cert, KeyProvLink& out);
// Sets the context's link, or removes it (null).
void setKeyProv(PCCERT_CONTEXT cert, const KeyProvLink* link);

// The link as the text kept beside a stored certificate, and back. Reading
// is strict: false for anything but a complete, well-formed link.
std::string keyProvText(const KeyProvLink& link);
bool keyProvFromText(const std::string& text, KeyProvLink& out);

}  // namespace plcsp
