// libFuzzer target for certificates: the crypt32 decoding layer
// (CertCreateCertificateContext, CryptDecodeObject of names, key usages and
// authority key identifiers) and CCertObject's reading of every field, on
// arbitrary DER. The first byte picks the reader: 0 a whole certificate,
// 1 a name, 2 an extended key usage, 3 an authority key identifier.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "pki/CCertObject.h"
#include "platform/wincrypt.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 18)) return 0;
    const BYTE* der = data + 1;
    const DWORD n = static_cast<DWORD>(size - 1);
    std::vector<BYTE> decoded;
    switch (data[0] % 4) {
    case 0: {
        PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, der, n);
        if (cert == nullptr) return 0;
        CCertObject object;
        object.init();
        if (object.parseCertificate(cert) != 0) __builtin_trap();
        // Every field that was read can be read back.
        for (const auto& [oid, text] : object.getSubjectAttrs()) (void)object.getSubjectAttr(oid).size();
        (void)object.getCertTempalate();
        (void)object.getSubjectSerialNumber().getSize();
        CertFreeCertificateContext(cert);
        break;
    }
    case 1:
        CCertObject::decodeCryptoObject(X509_NAME, der, n, decoded);
        break;
    case 2:
        CCertObject::decodeCryptoObject(X509_ENHANCED_KEY_USAGE, der, n, decoded);
        break;
    default:
        CCertObject::decodeCryptoObject(X509_AUTHORITY_KEY_ID2, der, n, decoded);
        break;
    }
    return 0;
}
