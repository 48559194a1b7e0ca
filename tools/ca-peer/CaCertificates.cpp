#include "CaCertificates.h"

#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <memory>

#include "OpenSslPtr.h"

namespace capeer {

namespace {


EVP_PKEY* pkeyOf(const KeyPtr& key) { return static_cast<EVP_PKEY*>(rawKey(key)); }

X509Ptr parseCert(const Bytes& der) {
    const unsigned char* p = der.data();
    X509Ptr x(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (!x) ERR_clear_error();
    return x;
}

Bytes derOf(X509* x) {
    unsigned char* buf = nullptr;
    const int n = i2d_X509(x, &buf);
    Bytes out;
    if (n > 0) out.assign(buf, buf + n);
    OPENSSL_free(buf);
    return out;
}

// The hash of the signer's own size: the engine refuses a 512-bit key with
// the 256-bit hash.
const EVP_MD* digestFor(const KeyPtr& signer) {
    switch (classOf(signer)) {
        case KeyClass::G2001: return EVP_get_digestbyname("md_gost94");
        case KeyClass::G2012_256: return EVP_get_digestbyname("md_gost12_256");
        default: return EVP_get_digestbyname("md_gost12_512");
    }
}

bool addExtension(X509* x, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, x, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) {
        ERR_clear_error();
        return false;
    }
    const bool ok = X509_add_ext(x, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

// A positive random serial of 16 bytes.
bool setRandomSerial(X509* x) {
    Bytes raw = randomBytes(16);
    if (raw.size() != 16) return false;
    raw[0] = static_cast<unsigned char>((raw[0] & 0x7F) | 0x10);
    BIGNUM* bn = BN_bin2bn(raw.data(), static_cast<int>(raw.size()), nullptr);
    const bool ok = bn && BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(x)) != nullptr;
    BN_free(bn);
    return ok;
}

bool setValidity(X509* x, int days) {
    return X509_gmtime_adj(X509_getm_notBefore(x), -3600) && X509_gmtime_adj(X509_getm_notAfter(x), 86400L * days);
}

}  // namespace

Bytes makeCaCertificate(const KeyPtr& key, const std::string& commonName, int days) {
    X509Ptr x(X509_new());
    NamePtr name(X509_NAME_new());
    if (!x || !name) return {};
    X509_NAME_add_entry_by_txt(name.get(), "C", MBSTRING_UTF8, reinterpret_cast<const unsigned char*>("RU"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name.get(), "O", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Pellamo test CA"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name.get(), "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    const bool ok = X509_set_version(x.get(), 2) && setRandomSerial(x.get()) &&
                    X509_set_subject_name(x.get(), name.get()) && X509_set_issuer_name(x.get(), name.get()) &&
                    setValidity(x.get(), days) && X509_set_pubkey(x.get(), pkeyOf(key)) &&
                    addExtension(x.get(), x.get(), NID_basic_constraints, "critical,CA:TRUE") &&
                    addExtension(x.get(), x.get(), NID_key_usage, "critical,keyCertSign,cRLSign,digitalSignature") &&
                    addExtension(x.get(), x.get(), NID_subject_key_identifier, "hash") &&
                    addExtension(x.get(), x.get(), NID_authority_key_identifier, "keyid:always") &&
                    X509_sign(x.get(), pkeyOf(key), digestFor(key)) > 0;
    if (!ok) {
        ERR_print_errors_fp(stderr);
        return {};
    }
    return derOf(x.get());
}

std::string issueFromRequest(const KeyPtr& caKey, const Bytes& caCert, const Bytes& request,
                             const Bytes& expectedKeyBlob, int days, Bytes& cert) {
    const unsigned char* p = request.data();
    ReqPtr req(d2i_X509_REQ(nullptr, &p, static_cast<long>(request.size())));
    if (!req || p != request.data() + request.size()) {
        ERR_clear_error();
        return "the PKCS#10 request does not decode";
    }
    EVP_PKEY* subjectKey = X509_REQ_get0_pubkey(req.get());
    if (!subjectKey || X509_REQ_verify(req.get(), subjectKey) != 1) {
        ERR_clear_error();
        return "the PKCS#10 request's signature does not verify";
    }
    if (!expectedKeyBlob.empty()) {
        EVP_PKEY_up_ref(subjectKey);
        if (!sameKey(publicBlob(adoptKey(subjectKey)), expectedKeyBlob))
            return "the PKCS#10 request is for another key than the packet's signer";
    }
    X509Ptr issuer = parseCert(caCert);
    X509Ptr x(X509_new());
    if (!issuer || !x) return "the CA certificate does not decode";

    bool ok = X509_set_version(x.get(), 2) && setRandomSerial(x.get()) &&
              X509_set_subject_name(x.get(), X509_REQ_get_subject_name(req.get())) &&
              X509_set_issuer_name(x.get(), X509_get_subject_name(issuer.get())) && setValidity(x.get(), days) &&
              X509_set_pubkey(x.get(), subjectKey);
    // The request's extensions (key usage, purposes, policies, signing tool)
    // are taken over; the key identifiers are the CA's to set.
    STACK_OF(X509_EXTENSION)* exts = X509_REQ_get_extensions(req.get());
    for (int i = 0; ok && exts && i < sk_X509_EXTENSION_num(exts); ++i) {
        X509_EXTENSION* ext = sk_X509_EXTENSION_value(exts, i);
        const int nid = OBJ_obj2nid(X509_EXTENSION_get_object(ext));
        if (nid == NID_subject_key_identifier || nid == NID_authority_key_identifier || nid == NID_basic_constraints)
            continue;
        ok = X509_add_ext(x.get(), ext, -1) == 1;
    }
    sk_X509_EXTENSION_pop_free(exts, X509_EXTENSION_free);
    ok = ok && addExtension(x.get(), issuer.get(), NID_subject_key_identifier, "hash") &&
         addExtension(x.get(), issuer.get(), NID_authority_key_identifier, "keyid:always") &&
         X509_sign(x.get(), pkeyOf(caKey), digestFor(caKey)) > 0;
    if (!ok) {
        ERR_clear_error();
        return "the certificate could not be made";
    }
    cert = derOf(x.get());
    return cert.empty() ? "the certificate could not be encoded" : "";
}

bool issuedBy(const Bytes& cert, const KeyPtr& caKey) {
    X509Ptr x = parseCert(cert);
    const bool ok = x && X509_verify(x.get(), pkeyOf(caKey)) == 1;
    ERR_clear_error();
    return ok;
}

Bytes certificateKeyBlob(const Bytes& cert) {
    X509Ptr x = parseCert(cert);
    EVP_PKEY* k = x ? X509_get_pubkey(x.get()) : nullptr;  // a new reference
    if (!k) {
        ERR_clear_error();
        return {};
    }
    return publicBlob(adoptKey(k));
}

Bytes certificateSerialLE(const Bytes& cert) {
    X509Ptr x = parseCert(cert);
    if (!x) return {};
    const ASN1_INTEGER* serial = X509_get0_serialNumber(x.get());
    Bytes out(serial->data, serial->data + serial->length);
    std::reverse(out.begin(), out.end());
    return out;
}

}  // namespace capeer
