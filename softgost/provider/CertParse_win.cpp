// Certificate decoding on Windows, on crypt32's decoder (the Windows build
// has no OpenSSL).
#include "softgost/provider/CertParse.h"

#include "platform/wincrypt.h"
#include "softgost/gost/GostParams.h"

#include <memory>

namespace plcsp {

namespace {

struct CertFree {
    void operator()(const CERT_CONTEXT* c) const { CertFreeCertificateContext(c); }
};
using CertPtr = std::unique_ptr<const CERT_CONTEXT, CertFree>;

Bytes blobBytes(const BYTE* p, DWORD n) { return p && n ? Bytes(p, p + n) : Bytes(); }

// Seconds since 1970 of a FILETIME (100 ns ticks since 1601).
std::int64_t unixTime(const FILETIME& ft) {
    constexpr std::uint64_t kTicksPerSecond = 10000000;
    constexpr std::int64_t kEpochDifference = 11644473600LL;
    const std::uint64_t ticks = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return static_cast<std::int64_t>(ticks / kTicksPerSecond) - kEpochDifference;
}

CertPtr decodeCertificate(const unsigned char* der, std::size_t n) {
    // The whole input must be one certificate: crypt32 accepts bytes after it.
    DerTlv whole;
    if (!der || n > 0x7FFFFFFF || !readTlv(der, n, whole) || whole.tag != 0x30 ||
        whole.headerLength + whole.length != n) {
        return CertPtr();
    }
    return CertPtr(CertCreateCertificateContext(X509_ASN_ENCODING, der, static_cast<DWORD>(n)));
}

}  // namespace

bool parseCertificate(const unsigned char* der, std::size_t n, ParsedCert& out) {
    CertPtr cert = decodeCertificate(der, n);
    if (!cert || !cert->pCertInfo) {
        return false;
    }
    const CERT_INFO& info = *cert->pCertInfo;
    out = ParsedCert{};
    out.version = info.dwVersion;
    // crypt32 keeps integers little-endian, as the field wants.
    out.serialLE = blobBytes(info.SerialNumber.pbData, info.SerialNumber.cbData);
    if (!info.SignatureAlgorithm.pszObjId || !info.SubjectPublicKeyInfo.Algorithm.pszObjId) {
        return false;
    }
    out.sigAlgOid = info.SignatureAlgorithm.pszObjId;
    out.sigAlgParams = blobBytes(info.SignatureAlgorithm.Parameters.pbData, info.SignatureAlgorithm.Parameters.cbData);
    out.issuer = blobBytes(info.Issuer.pbData, info.Issuer.cbData);
    out.subject = blobBytes(info.Subject.pbData, info.Subject.cbData);
    out.notBefore = unixTime(info.NotBefore);
    out.notAfter = unixTime(info.NotAfter);
    const CERT_PUBLIC_KEY_INFO& spki = info.SubjectPublicKeyInfo;
    out.spkiAlgOid = spki.Algorithm.pszObjId;
    out.spkiAlgParams = blobBytes(spki.Algorithm.Parameters.pbData, spki.Algorithm.Parameters.cbData);
    out.spkiKey = blobBytes(spki.PublicKey.pbData, spki.PublicKey.cbData);
    out.spkiUnusedBits = spki.PublicKey.cUnusedBits;
    out.issuerUid = blobBytes(info.IssuerUniqueId.pbData, info.IssuerUniqueId.cbData);
    out.subjectUid = blobBytes(info.SubjectUniqueId.pbData, info.SubjectUniqueId.cbData);
    for (DWORD i = 0; i < info.cExtension; ++i) {
        const CERT_EXTENSION& ext = info.rgExtension[i];
        if (!ext.pszObjId || !*ext.pszObjId) {
            return false;
        }
        ParsedCert::Extension e;
        e.oid = ext.pszObjId;
        e.critical = ext.fCritical != FALSE;
        e.value = blobBytes(ext.Value.pbData, ext.Value.cbData);
        out.extensions.push_back(std::move(e));
    }
    return true;
}

}  // namespace plcsp
