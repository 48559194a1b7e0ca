#include "softgost/provider/CertParse.h"

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <memory>

#include "softgost/gost/GostParams.h"

namespace plcsp {

namespace {

struct X509Free {
    void operator()(X509* x) const { X509_free(x); }
};
struct Pkcs7Free {
    void operator()(PKCS7* p) const { PKCS7_free(p); }
};

std::string objText(const ASN1_OBJECT* obj) {
    char buf[128];
    int n = OBJ_obj2txt(buf, sizeof buf, obj, 1);
    if (n <= 0 || n >= static_cast<int>(sizeof buf)) {
        return {};
    }
    return std::string(buf, static_cast<std::size_t>(n));
}

// Splits the DER of SEQUENCE { OID, params? } into the OID text and the
// parameters' DER.
bool splitAlgorithm(const unsigned char* der, std::size_t n, std::string& oid, Bytes& params) {
    DerTlv seq, id;
    if (!readTlv(der, n, seq) || seq.tag != 0x30 || !readTlv(seq.content, seq.length, id) ||
        id.tag != 0x06) {
        return false;
    }
    oid = oidText(id.content, id.length);
    const std::size_t used = id.headerLength + id.length;
    params.assign(seq.content + used, seq.content + seq.length);
    return !oid.empty();
}

bool asn1TimeToUnix(const ASN1_TIME* t, std::int64_t& out) {
    struct tm tmv {};
    if (!t || ASN1_TIME_to_tm(t, &tmv) != 1) {
        return false;
    }
    out = static_cast<std::int64_t>(timegm(&tmv));
    return true;
}

}  // namespace

bool parseCertificate(const unsigned char* der, std::size_t n, ParsedCert& out) {
    const unsigned char* q = der;
    std::unique_ptr<X509, X509Free> x(d2i_X509(nullptr, &q, static_cast<long>(n)));
    if (!x || q != der + n) {
        return false;
    }
    X509* c = x.get();
    out = ParsedCert{};
    out.version = static_cast<unsigned>(X509_get_version(c));

    unsigned char* buf = nullptr;
    int len = i2d_ASN1_INTEGER(X509_get0_serialNumber(c), &buf);
    DerTlv serial;
    bool ok = len > 0 && readTlv(buf, static_cast<std::size_t>(len), serial);
    if (ok) {
        out.serialLE.assign(serial.content, serial.content + serial.length);
        std::reverse(out.serialLE.begin(), out.serialLE.end());
    }
    OPENSSL_free(buf);
    if (!ok) {
        return false;
    }

    buf = nullptr;
    len = i2d_X509_ALGOR(X509_get0_tbs_sigalg(c), &buf);
    ok = len > 0 && splitAlgorithm(buf, static_cast<std::size_t>(len), out.sigAlgOid, out.sigAlgParams);
    OPENSSL_free(buf);
    if (!ok) {
        return false;
    }

    const unsigned char* nameDer = nullptr;
    size_t nameLen = 0;
    if (!X509_NAME_get0_der(X509_get_issuer_name(c), &nameDer, &nameLen)) {
        return false;
    }
    out.issuer.assign(nameDer, nameDer + nameLen);
    if (!X509_NAME_get0_der(X509_get_subject_name(c), &nameDer, &nameLen)) {
        return false;
    }
    out.subject.assign(nameDer, nameDer + nameLen);

    if (!asn1TimeToUnix(X509_get0_notBefore(c), out.notBefore) ||
        !asn1TimeToUnix(X509_get0_notAfter(c), out.notAfter)) {
        return false;
    }

    // SubjectPublicKeyInfo as encoded: SEQUENCE { AlgorithmIdentifier, BIT STRING }.
    buf = nullptr;
    len = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(c), &buf);
    DerTlv spki, alg, bits;
    ok = len > 0 && readTlv(buf, static_cast<std::size_t>(len), spki) && spki.tag == 0x30 &&
         readTlv(spki.content, spki.length, alg) && alg.tag == 0x30 &&
         splitAlgorithm(spki.content, alg.headerLength + alg.length, out.spkiAlgOid,
                        out.spkiAlgParams) &&
         readTlv(spki.content + alg.headerLength + alg.length,
                 spki.length - alg.headerLength - alg.length, bits) &&
         bits.tag == 0x03 && bits.length >= 1 && bits.content[0] < 8;
    if (ok) {
        out.spkiUnusedBits = bits.content[0];
        out.spkiKey.assign(bits.content + 1, bits.content + bits.length);
    }
    OPENSSL_free(buf);
    if (!ok) {
        return false;
    }

    const ASN1_BIT_STRING* iuid = nullptr;
    const ASN1_BIT_STRING* suid = nullptr;
    X509_get0_uids(c, &iuid, &suid);
    if (iuid) {
        out.issuerUid.assign(ASN1_STRING_get0_data(iuid), ASN1_STRING_get0_data(iuid) + ASN1_STRING_length(iuid));
    }
    if (suid) {
        out.subjectUid.assign(ASN1_STRING_get0_data(suid), ASN1_STRING_get0_data(suid) + ASN1_STRING_length(suid));
    }

    const int count = X509_get_ext_count(c);
    for (int i = 0; i < count; ++i) {
        X509_EXTENSION* ext = X509_get_ext(c, i);
        ParsedCert::Extension e;
        e.oid = objText(X509_EXTENSION_get_object(ext));
        e.critical = X509_EXTENSION_get_critical(ext) > 0;
        const ASN1_OCTET_STRING* v = X509_EXTENSION_get_data(ext);
        e.value.assign(ASN1_STRING_get0_data(v), ASN1_STRING_get0_data(v) + ASN1_STRING_length(v));
        if (e.oid.empty()) {
            return false;
        }
        out.extensions.push_back(std::move(e));
    }
    return true;
}

}  // namespace plcsp
