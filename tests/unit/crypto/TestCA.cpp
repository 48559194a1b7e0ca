#include "TestCA.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <stdexcept>

namespace testca {

namespace {

[[noreturn]] void die(const char* what) { throw std::runtime_error(std::string("test CA: ") + what); }

Bytes derOf(int len, unsigned char* buf) {
    if (len <= 0 || !buf) die("encoding");
    Bytes out(buf, buf + len);
    OPENSSL_free(buf);
    return out;
}

// UTF-8 to UTF-16 big-endian (BMP characters only).
Bytes toBmp(const std::string& utf8) {
    Bytes out;
    for (std::size_t i = 0; i < utf8.size();) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        unsigned cp = 0;
        if (c < 0x80) {
            cp = c;
            i += 1;
        } else if ((c & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
            cp = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
            i += 2;
        } else if ((c & 0xF0) == 0xE0 && i + 2 < utf8.size()) {
            cp = ((c & 0x0Fu) << 12) | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu) << 6) |
                 (static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu);
            i += 3;
        } else {
            die("BMP text");
        }
        out.push_back(static_cast<unsigned char>(cp >> 8));
        out.push_back(static_cast<unsigned char>(cp & 0xFF));
    }
    return out;
}

X509_NAME* makeName(const std::vector<Attr>& attrs) {
    X509_NAME* name = X509_NAME_new();
    for (const Attr& a : attrs) {
        const Bytes value = a.kind == BMP ? toBmp(a.utf8) : Bytes(a.utf8.begin(), a.utf8.end());
        ASN1_OBJECT* obj = OBJ_txt2obj(a.oid.c_str(), 1);
        if (!obj) die("attribute OID");
        X509_NAME_ENTRY* e =
            X509_NAME_ENTRY_create_by_OBJ(nullptr, obj, a.kind, value.data(), static_cast<int>(value.size()));
        ASN1_OBJECT_free(obj);
        if (!e || !X509_NAME_add_entry(name, e, -1, a.sameRdn ? -1 : 0)) die("name entry");
        X509_NAME_ENTRY_free(e);
    }
    return name;
}

const EVP_MD* digestFor(oracle::Kind kind) {
    if (kind == oracle::Kind::G2012_512) return EVP_get_digestbyname("md_gost12_512");
    return EVP_get_digestbyname(kind == oracle::Kind::G2001 ? "md_gost94" : "md_gost12_256");
}

ASN1_INTEGER* integerOf(const Bytes& bigEndian) {
    BIGNUM* bn = BN_bin2bn(bigEndian.data(), static_cast<int>(bigEndian.size()), nullptr);
    ASN1_INTEGER* i = BN_to_ASN1_INTEGER(bn, nullptr);
    BN_free(bn);
    if (!i) die("serial");
    return i;
}

void addRawExtension(X509* x, const Extension& e) {
    ASN1_OBJECT* obj = OBJ_txt2obj(e.oid.c_str(), 1);
    ASN1_OCTET_STRING* v = ASN1_OCTET_STRING_new();
    ASN1_OCTET_STRING_set(v, e.value.data(), static_cast<int>(e.value.size()));
    X509_EXTENSION* ext = X509_EXTENSION_create_by_OBJ(nullptr, obj, e.critical ? 1 : 0, v);
    if (!ext || !X509_add_ext(x, ext, -1)) die("extension");
    X509_EXTENSION_free(ext);
    ASN1_OCTET_STRING_free(v);
    ASN1_OBJECT_free(obj);
}

// Runs the i2d call before its buffer is read (in one argument list the
// order would be unspecified).
template <class Encode>
Bytes derOfCall(Encode encode, unsigned char*& buf) {
    const int len = encode();
    return derOf(len, buf);
}

}  // namespace

TestCA::TestCA(oracle::Kind kind, std::string commonName)
    : m_kind(kind), m_name(std::move(commonName)), m_key(oracle::generate(kind, "A")) {
    // A stable identifier of the key: the first 20 bytes of its raw value.
    const Bytes raw = oracle::rawPublic(m_key);
    m_keyId.assign(raw.begin(), raw.begin() + 20);
}

Bytes TestCA::issue(const CertFields& fields) const {
    X509* x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER* serial = integerOf(fields.serial);
    X509_set_serialNumber(x, serial);
    ASN1_INTEGER_free(serial);

    X509_NAME* subject = makeName(fields.subject);
    X509_NAME* issuer = makeName(fields.issuer.empty() ? std::vector<Attr>{{"2.5.4.3", UTF8, m_name}} : fields.issuer);
    X509_set_subject_name(x, subject);
    X509_set_issuer_name(x, issuer);
    X509_gmtime_adj(X509_getm_notBefore(x), static_cast<long>(fields.notBefore));
    X509_gmtime_adj(X509_getm_notAfter(x), static_cast<long>(fields.notAfter));

    oracle::KeyPtr subjectKey = fields.subjectSpki.empty() ? oracle::generate(m_kind, "A")
                                                         : oracle::publicKeyFromSpki(fields.subjectSpki);
    X509_set_pubkey(x, oracle::pkeyOf(subjectKey));

    if (fields.withKeyId || fields.akiIssuerSerial) {
        AUTHORITY_KEYID* aki = AUTHORITY_KEYID_new();
        if (fields.withKeyId) {
            const Bytes& id = fields.keyId.empty() ? m_keyId : fields.keyId;
            aki->keyid = ASN1_OCTET_STRING_new();
            ASN1_OCTET_STRING_set(aki->keyid, id.data(), static_cast<int>(id.size()));
        }
        if (fields.akiIssuerSerial) {
            aki->issuer = GENERAL_NAMES_new();
            GENERAL_NAME* dir = GENERAL_NAME_new();
            dir->type = GEN_DIRNAME;
            dir->d.directoryName = X509_NAME_dup(issuer);
            sk_GENERAL_NAME_push(aki->issuer, dir);
            GENERAL_NAME* dns = GENERAL_NAME_new();
            ASN1_IA5STRING* host = ASN1_IA5STRING_new();
            ASN1_STRING_set(host, "ca.example", -1);
            GENERAL_NAME_set0_value(dns, GEN_DNS, host);
            sk_GENERAL_NAME_push(aki->issuer, dns);
            aki->serial = integerOf({0x00, 0x9A, 0x01});
        }
        if (!X509_add1_ext_i2d(x, NID_authority_key_identifier, aki, 0, X509V3_ADD_DEFAULT)) die("aki");
        AUTHORITY_KEYID_free(aki);
    }
    if (fields.withEku) {
        EXTENDED_KEY_USAGE* eku = sk_ASN1_OBJECT_new_null();
        for (const std::string& oid : fields.purposes) {
            sk_ASN1_OBJECT_push(eku, OBJ_txt2obj(oid.c_str(), 1));
        }
        if (!X509_add1_ext_i2d(x, NID_ext_key_usage, eku, 0, X509V3_ADD_DEFAULT)) die("eku");
        sk_ASN1_OBJECT_pop_free(eku, ASN1_OBJECT_free);
    }
    for (const Extension& e : fields.extra) {
        addRawExtension(x, e);
    }
    if (!X509_sign(x, oracle::pkeyOf(m_key), digestFor(m_kind))) die("sign");
    unsigned char* buf = nullptr;
    Bytes out = derOfCall([&] { return i2d_X509(x, &buf); }, buf);
    X509_NAME_free(subject);
    X509_NAME_free(issuer);
    X509_free(x);
    return out;
}

Bytes TestCA::selfCertificate(const Bytes& serial) const {
    CertFields fields;
    fields.subject = {{"2.5.4.3", UTF8, m_name}};
    fields.serial = serial;
    fields.withKeyId = false;
    fields.notAfter = 3650LL * 86400;
    fields.subjectSpki = oracle::spkiDer(m_kind, oracle::spkiParams(m_key), oracle::rawPublic(m_key));
    return issue(fields);
}

Bytes TestCA::crl(const std::vector<Revoked>& revoked, long long thisUpdate, long long nextUpdate, bool pem) const {
    X509_CRL* crl = X509_CRL_new();
    X509_CRL_set_version(crl, 1);
    X509_NAME* issuer = makeName({{"2.5.4.3", UTF8, m_name}});
    X509_CRL_set_issuer_name(crl, issuer);
    X509_NAME_free(issuer);
    ASN1_TIME* t = X509_time_adj_ex(nullptr, 0, static_cast<long>(thisUpdate), nullptr);
    X509_CRL_set1_lastUpdate(crl, t);
    ASN1_TIME_free(t);
    t = X509_time_adj_ex(nullptr, 0, static_cast<long>(nextUpdate), nullptr);
    X509_CRL_set1_nextUpdate(crl, t);
    ASN1_TIME_free(t);
    for (const Revoked& r : revoked) {
        X509_REVOKED* entry = X509_REVOKED_new();
        ASN1_INTEGER* serial = integerOf(r.serial);
        X509_REVOKED_set_serialNumber(entry, serial);
        ASN1_INTEGER_free(serial);
        ASN1_TIME* when = X509_time_adj_ex(nullptr, -1, 0, nullptr);
        X509_REVOKED_set_revocationDate(entry, when);
        ASN1_TIME_free(when);
        if (r.reason >= 0) {
            ASN1_ENUMERATED* reason = ASN1_ENUMERATED_new();
            ASN1_ENUMERATED_set(reason, r.reason);
            X509_REVOKED_add1_ext_i2d(entry, NID_crl_reason, reason, 0, 0);
            ASN1_ENUMERATED_free(reason);
        }
        X509_CRL_add0_revoked(crl, entry);
    }
    X509_CRL_sort(crl);
    if (!X509_CRL_sign(crl, oracle::pkeyOf(m_key), digestFor(m_kind))) die("crl sign");
    Bytes out;
    if (pem) {
        BIO* bio = BIO_new(BIO_s_mem());
        PEM_write_bio_X509_CRL(bio, crl);
        char* data = nullptr;
        const long n = BIO_get_mem_data(bio, &data);
        out.assign(data, data + n);
        BIO_free(bio);
    } else {
        unsigned char* buf = nullptr;
        out = derOfCall([&] { return i2d_X509_CRL(crl, &buf); }, buf);
    }
    X509_CRL_free(crl);
    return out;
}

Bytes TestCA::issueFromRequest(const Bytes& requestDer, const CertFields& fields) const {
    const unsigned char* p = requestDer.data();
    X509_REQ* req = d2i_X509_REQ(nullptr, &p, static_cast<long>(requestDer.size()));
    if (!req) return {};
    EVP_PKEY* key = X509_REQ_get0_pubkey(req);
    if (!key || X509_REQ_verify(req, key) != 1) {
        X509_REQ_free(req);
        return {};
    }
    unsigned char* buf = nullptr;
    CertFields fromRequest = fields;
    fromRequest.subjectSpki = derOfCall([&] { return i2d_PUBKEY(key, &buf); }, buf);
    fromRequest.subject.clear();
    Bytes cert = issue(fromRequest);
    // The request's subject as it was encoded replaces the empty one.
    const unsigned char* c = cert.data();
    X509* x = d2i_X509(nullptr, &c, static_cast<long>(cert.size()));
    X509_set_subject_name(x, X509_REQ_get_subject_name(req));
    if (!X509_sign(x, oracle::pkeyOf(m_key), digestFor(m_kind))) die("sign");
    buf = nullptr;
    cert = derOfCall([&] { return i2d_X509(x, &buf); }, buf);
    X509_free(x);
    X509_REQ_free(req);
    return cert;
}

}  // namespace testca
