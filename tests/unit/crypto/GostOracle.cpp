#include "GostOracle.h"

#include <openssl/asn1.h>
#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstring>
#include <stdexcept>

// The ENGINE API is deprecated in OpenSSL 3 but is the only way to reach the
// GOST engine's key agreement and key transport.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace oracle {

namespace {

constexpr int kCtrlSetSbox = 0x1e;  // EVP_CTRL_SET_SBOX of the GOST engine

ENGINE* engine() {
    static ENGINE* e = [] {
        ENGINE* eng = ENGINE_by_id("gost");
        if (!eng || !ENGINE_init(eng)) {
            return static_cast<ENGINE*>(nullptr);
        }
        ENGINE_set_default(eng, ENGINE_METHOD_ALL);
        return eng;
    }();
    return e;
}

int nidOf(Kind k) {
    switch (k) {
        case Kind::G2001:
            return NID_id_GostR3410_2001;
        case Kind::G2012_256:
            return NID_id_GostR3410_2012_256;
        default:
            return NID_id_GostR3410_2012_512;
    }
}

const char* algOidOf(Kind k) {
    switch (k) {
        case Kind::G2001:
            return "1.2.643.2.2.19";
        case Kind::G2012_256:
            return "1.2.643.7.1.1.1.1";
        default:
            return "1.2.643.7.1.1.1.2";
    }
}

[[noreturn]] void die(const char* what) {
    ERR_print_errors_fp(stderr);
    throw std::runtime_error(what);
}

// Minimal DER writer for the structures the tests build.
Bytes tlv(unsigned char tag, const Bytes& content) {
    Bytes out{tag};
    const std::size_t n = content.size();
    if (n < 0x80) {
        out.push_back(static_cast<unsigned char>(n));
    } else if (n < 0x100) {
        out.push_back(0x81);
        out.push_back(static_cast<unsigned char>(n));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<unsigned char>(n >> 8));
        out.push_back(static_cast<unsigned char>(n));
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes oidDer(const std::string& dotted) {
    ASN1_OBJECT* obj = OBJ_txt2obj(dotted.c_str(), 1);
    unsigned char* buf = nullptr;
    int n = i2d_ASN1_OBJECT(obj, &buf);
    Bytes out(buf, buf + n);
    OPENSSL_free(buf);
    ASN1_OBJECT_free(obj);
    return out;
}

// Reads one TLV; returns the content and moves p past it.
bool readTlv(const unsigned char*& p, const unsigned char* end, unsigned char& tag, Bytes& content) {
    if (end - p < 2) {
        return false;
    }
    tag = p[0];
    std::size_t len = p[1];
    const unsigned char* q = p + 2;
    if (len & 0x80) {
        const std::size_t nb = len & 0x7F;
        if (nb == 0 || nb > 2 || static_cast<std::size_t>(end - q) < nb) {
            return false;
        }
        len = 0;
        for (std::size_t i = 0; i < nb; ++i) {
            len = (len << 8) | q[i];
        }
        q += nb;
    }
    if (static_cast<std::size_t>(end - q) < len) {
        return false;
    }
    content.assign(q, q + len);
    p = q + len;
    return true;
}

}  // namespace

class Key {
public:
    explicit Key(EVP_PKEY* k) : pkey(k) {}
    ~Key() { EVP_PKEY_free(pkey); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    EVP_PKEY* pkey;
};

bool available() { return engine() != nullptr; }

evp_pkey_st* pkeyOf(const KeyPtr& key) { return key ? key->pkey : nullptr; }

KeyPtr generate(Kind kind, const std::string& paramset) {
    EVP_PKEY_CTX* c = EVP_PKEY_CTX_new_id(nidOf(kind), engine());
    EVP_PKEY* k = nullptr;
    if (!c || EVP_PKEY_keygen_init(c) <= 0 ||
        EVP_PKEY_CTX_ctrl_str(c, "paramset", paramset.c_str()) <= 0 || EVP_PKEY_keygen(c, &k) <= 0) {
        EVP_PKEY_CTX_free(c);
        die("engine key generation");
    }
    EVP_PKEY_CTX_free(c);
    return std::make_shared<Key>(k);
}

static bool splitSpki(const Bytes& spki, Bytes& params, Bytes& raw) {
    const unsigned char* p = spki.data();
    const unsigned char* end = p + spki.size();
    unsigned char tag = 0;
    Bytes seq, alg, bits;
    if (!readTlv(p, end, tag, seq) || tag != 0x30) {
        return false;
    }
    p = seq.data();
    end = p + seq.size();
    if (!readTlv(p, end, tag, alg) || tag != 0x30 || !readTlv(p, end, tag, bits) || tag != 0x03) {
        return false;
    }
    const unsigned char* a = alg.data();
    const unsigned char* aend = a + alg.size();
    Bytes oid;
    if (!readTlv(a, aend, tag, oid)) {
        return false;
    }
    params.assign(a, aend);
    const unsigned char* b = bits.data() + 1;
    Bytes octets;
    if (!readTlv(b, bits.data() + bits.size(), tag, octets) || tag != 0x04) {
        return false;
    }
    raw = octets;
    return true;
}

static Bytes spkiOf(const KeyPtr& key) {
    unsigned char* buf = nullptr;
    int n = i2d_PUBKEY(key->pkey, &buf);
    if (n <= 0) {
        die("i2d_PUBKEY");
    }
    Bytes out(buf, buf + n);
    OPENSSL_free(buf);
    return out;
}

Bytes spkiParams(const KeyPtr& key) {
    Bytes params, raw;
    if (!splitSpki(spkiOf(key), params, raw)) {
        die("spki");
    }
    return params;
}

Bytes rawPublic(const KeyPtr& key) {
    Bytes params, raw;
    if (!splitSpki(spkiOf(key), params, raw)) {
        die("spki");
    }
    return raw;
}

Bytes spkiDer(Kind kind, const Bytes& paramsDer, const Bytes& raw) {
    Bytes bitContent{0x00};
    const Bytes octets = tlv(0x04, raw);
    bitContent.insert(bitContent.end(), octets.begin(), octets.end());
    return tlv(0x30, cat({tlv(0x30, cat({oidDer(algOidOf(kind)), paramsDer})), tlv(0x03, bitContent)}));
}

KeyPtr publicKeyFromSpki(const Bytes& spki) {
    const unsigned char* p = spki.data();
    EVP_PKEY* k = d2i_PUBKEY(nullptr, &p, static_cast<long>(spki.size()));
    if (!k) {
        die("d2i_PUBKEY");
    }
    return std::make_shared<Key>(k);
}

KeyPtr publicKey(Kind kind, const Bytes& paramsDer, const Bytes& raw) {
    return publicKeyFromSpki(spkiDer(kind, paramsDer, raw));
}

Bytes signDigest(const KeyPtr& key, const Bytes& digest) {
    EVP_PKEY_CTX* c = EVP_PKEY_CTX_new(key->pkey, engine());
    unsigned char sig[256];
    size_t len = sizeof sig;
    if (!c || EVP_PKEY_sign_init(c) <= 0 || EVP_PKEY_sign(c, sig, &len, digest.data(), digest.size()) <= 0) {
        EVP_PKEY_CTX_free(c);
        die("engine sign");
    }
    EVP_PKEY_CTX_free(c);
    return Bytes(sig, sig + len);
}

bool verifyDigest(const KeyPtr& key, const Bytes& digest, const Bytes& sig) {
    EVP_PKEY_CTX* c = EVP_PKEY_CTX_new(key->pkey, engine());
    const bool ok = c && EVP_PKEY_verify_init(c) > 0 &&
                    EVP_PKEY_verify(c, sig.data(), sig.size(), digest.data(), digest.size()) == 1;
    EVP_PKEY_CTX_free(c);
    ERR_clear_error();
    return ok;
}

Bytes derive(const KeyPtr& own, const KeyPtr& peer, const Bytes& ukm) {
    EVP_PKEY_CTX* c = EVP_PKEY_CTX_new(own->pkey, engine());
    unsigned char out[64];
    size_t len = sizeof out;
    if (!c || EVP_PKEY_derive_init(c) <= 0 || EVP_PKEY_derive_set_peer(c, peer->pkey) <= 0 ||
        EVP_PKEY_CTX_ctrl(c, -1, EVP_PKEY_OP_DERIVE, EVP_PKEY_CTRL_SET_IV, 8,
                          const_cast<unsigned char*>(ukm.data())) <= 0 ||
        EVP_PKEY_derive(c, out, &len) <= 0) {
        EVP_PKEY_CTX_free(c);
        die("engine derive");
    }
    EVP_PKEY_CTX_free(c);
    return Bytes(out, out + len);
}

Bytes transportEncrypt(const KeyPtr& recipient, const KeyPtr& sender, const Bytes& ukm,
                       const Bytes& cek) {
    EVP_PKEY_CTX* c = EVP_PKEY_CTX_new(recipient->pkey, engine());
    unsigned char out[512];
    size_t len = sizeof out;
    if (!c || EVP_PKEY_encrypt_init(c) <= 0 || EVP_PKEY_derive_set_peer(c, sender->pkey) <= 0 ||
        EVP_PKEY_CTX_ctrl(c, -1, -1, EVP_PKEY_CTRL_SET_IV, 8, const_cast<unsigned char*>(ukm.data())) <= 0 ||
        EVP_PKEY_encrypt(c, out, &len, cek.data(), cek.size()) <= 0) {
        EVP_PKEY_CTX_free(c);
        die("engine key transport");
    }
    EVP_PKEY_CTX_free(c);
    return Bytes(out, out + len);
}

Bytes transportDecrypt(const KeyPtr& recipient, const KeyPtr& sender, const Bytes& der) {
    EVP_PKEY_CTX* c = EVP_PKEY_CTX_new(recipient->pkey, engine());
    unsigned char out[64];
    size_t len = sizeof out;
    const bool ok = c && EVP_PKEY_decrypt_init(c) > 0 && EVP_PKEY_derive_set_peer(c, sender->pkey) > 0 &&
                    EVP_PKEY_decrypt(c, out, &len, der.data(), der.size()) > 0;
    EVP_PKEY_CTX_free(c);
    ERR_clear_error();
    return ok ? Bytes(out, out + len) : Bytes();
}

Bytes transportDer(const Bytes& encKey, const Bytes& mac, const std::string& cipherOid,
                   const Bytes& ukm) {
    return tlv(0x30, cat({tlv(0x30, cat({tlv(0x04, encKey), tlv(0x04, mac)})),
                          tlv(0xA0, cat({oidDer(cipherOid), tlv(0x04, ukm)}))}));
}

bool transportParts(const Bytes& der, Bytes& encKey, Bytes& mac, Bytes& ukm) {
    const unsigned char* p = der.data();
    unsigned char tag = 0;
    Bytes outer, info, params, oid;
    if (!readTlv(p, der.data() + der.size(), tag, outer) || tag != 0x30) {
        return false;
    }
    p = outer.data();
    const unsigned char* end = p + outer.size();
    if (!readTlv(p, end, tag, info) || tag != 0x30 || !readTlv(p, end, tag, params) || tag != 0xA0) {
        return false;
    }
    const unsigned char* i = info.data();
    if (!readTlv(i, info.data() + info.size(), tag, encKey) ||
        !readTlv(i, info.data() + info.size(), tag, mac)) {
        return false;
    }
    const unsigned char* q = params.data();
    const unsigned char* qend = q + params.size();
    if (!readTlv(q, qend, tag, oid)) {
        return false;
    }
    // An ephemeral key [0] may come before the UKM; skip anything but 04.
    while (readTlv(q, qend, tag, ukm)) {
        if (tag == 0x04) {
            return true;
        }
    }
    return false;
}

Bytes cfb(const Bytes& key, const Bytes& iv, const std::string& sboxOid, const Bytes& data,
          bool encrypt) {
    const EVP_CIPHER* cipher = ENGINE_get_cipher(engine(), NID_id_Gost28147_89);
    EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
    Bytes out(data.size() + 16);
    int n1 = 0, n2 = 0;
    if (!cipher || !EVP_CipherInit_ex(c, cipher, engine(), nullptr, nullptr, encrypt ? 1 : 0) ||
        EVP_CIPHER_CTX_ctrl(c, kCtrlSetSbox, 0, const_cast<char*>(sboxOid.c_str())) <= 0 ||
        !EVP_CipherInit_ex(c, nullptr, nullptr, key.data(), iv.data(), encrypt ? 1 : 0) ||
        !EVP_CipherUpdate(c, out.data(), &n1, data.data(), static_cast<int>(data.size())) ||
        !EVP_CipherFinal_ex(c, out.data() + n1, &n2)) {
        EVP_CIPHER_CTX_free(c);
        die("engine gost89");
    }
    EVP_CIPHER_CTX_free(c);
    out.resize(static_cast<std::size_t>(n1 + n2));
    return out;
}

Bytes digest(const std::string& name, const Bytes& data) {
    const EVP_MD* md = EVP_get_digestbyname(name.c_str());
    unsigned char out[64];
    unsigned int len = 0;
    if (!md || !EVP_Digest(data.data(), data.size(), out, &len, md, engine())) {
        die("engine digest");
    }
    return Bytes(out, out + len);
}

Bytes issueCertificate(const KeyPtr& issuer, const Bytes& subjectSpki, const std::string& commonName,
                       long serial, long validDays) {
    KeyPtr subject = publicKeyFromSpki(subjectSpki);
    X509* x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial);
    X509_NAME* name = X509_NAME_new();
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    X509_set_subject_name(x, name);
    X509_NAME* iname = X509_NAME_new();
    X509_NAME_add_entry_by_txt(iname, "CN", MBSTRING_UTF8,
                               reinterpret_cast<const unsigned char*>("Test CA"), -1, -1, 0);
    X509_set_issuer_name(x, iname);
    X509_gmtime_adj(X509_getm_notBefore(x), 0);
    X509_gmtime_adj(X509_getm_notAfter(x), validDays * 86400L);
    X509_set_pubkey(x, subject->pkey);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, nullptr, NID_key_usage, "critical,digitalSignature,keyEncipherment");
    if (ext) {
        X509_add_ext(x, ext, -1);
        X509_EXTENSION_free(ext);
    }
    const int base = EVP_PKEY_base_id(issuer->pkey);
    const EVP_MD* md = EVP_get_digestbyname(base == NID_id_GostR3410_2001 ? "md_gost94" : "md_gost12_256");
    if (!X509_sign(x, issuer->pkey, md)) {
        X509_free(x);
        X509_NAME_free(name);
        X509_NAME_free(iname);
        die("X509_sign");
    }
    unsigned char* buf = nullptr;
    int n = i2d_X509(x, &buf);
    Bytes out(buf, buf + n);
    OPENSSL_free(buf);
    X509_free(x);
    X509_NAME_free(name);
    X509_NAME_free(iname);
    return out;
}

Bytes pkcs7Of(const Bytes& certDer) {
    const unsigned char* p = certDer.data();
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(certDer.size()));
    PKCS7* p7 = PKCS7_new();
    PKCS7_set_type(p7, NID_pkcs7_signed);
    PKCS7_content_new(p7, NID_pkcs7_data);
    PKCS7_add_certificate(p7, x);
    unsigned char* buf = nullptr;
    int n = i2d_PKCS7(p7, &buf);
    Bytes out(buf, buf + n);
    OPENSSL_free(buf);
    PKCS7_free(p7);
    X509_free(x);
    return out;
}

std::string pemOf(const Bytes& certDer) {
    const unsigned char* p = certDer.data();
    X509* x = d2i_X509(nullptr, &p, static_cast<long>(certDer.size()));
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, x);
    char* data = nullptr;
    long n = BIO_get_mem_data(bio, &data);
    std::string out(data, static_cast<std::size_t>(n));
    BIO_free(bio);
    X509_free(x);
    return out;
}

}  // namespace oracle
