#include "GostEngine.h"

#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace capeer {

namespace {

constexpr int kCtrlSetSbox = 0x1e;  // EVP_CTRL_SET_SBOX of the GOST engine
constexpr unsigned kAlg2001 = 0x2E23, kAlg2012_256 = 0x2E49, kAlg2012_512 = 0x2E3D;
constexpr const char* kSboxA = "1.2.643.2.2.31.1";
constexpr const char* kSboxZ = "1.2.643.7.1.2.5.1.1";

ENGINE* theEngine() {
    static ENGINE* e = [] {
        ENGINE* eng = ENGINE_by_id("gost");
        if (!eng || !ENGINE_init(eng)) return static_cast<ENGINE*>(nullptr);
        // Without the defaults the engine's key generation and ASN.1 methods
        // are not found.
        ENGINE_set_default(eng, ENGINE_METHOD_ALL);
        return eng;
    }();
    return e;
}

std::uint32_t le32(const Bytes& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

void putLe32(Bytes& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

// --- minimal DER for SubjectPublicKeyInfo and the key transport structure

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
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// One TLV at p (definite lengths up to two bytes); whole element in `whole`.
bool readTlv(const unsigned char*& p, const unsigned char* end, unsigned char& tag, Bytes& content,
             Bytes* whole = nullptr) {
    const unsigned char* start = p;
    if (end - p < 2) return false;
    tag = p[0];
    std::size_t len = p[1];
    const unsigned char* q = p + 2;
    if (len & 0x80) {
        const std::size_t nb = len & 0x7F;
        if (nb == 0 || nb > 2 || static_cast<std::size_t>(end - q) < nb) return false;
        len = 0;
        for (std::size_t i = 0; i < nb; ++i) len = (len << 8) | q[i];
        q += nb;
    }
    if (static_cast<std::size_t>(end - q) < len) return false;
    content.assign(q, q + len);
    p = q + len;
    if (whole) whole->assign(start, p);
    return true;
}

Bytes oidDer(const char* dotted) {
    ASN1_OBJECT* obj = OBJ_txt2obj(dotted, 1);
    unsigned char* buf = nullptr;
    const int n = obj ? i2d_ASN1_OBJECT(obj, &buf) : 0;
    Bytes out;
    if (n > 0) out.assign(buf, buf + n);
    OPENSSL_free(buf);
    ASN1_OBJECT_free(obj);
    return out;
}

const char* algOidOf(std::uint32_t aiKeyAlg) {
    switch (aiKeyAlg) {
        case kAlg2001:
            return "1.2.643.2.2.19";
        case kAlg2012_256:
            return "1.2.643.7.1.1.1.1";
        case kAlg2012_512:
            return "1.2.643.7.1.1.1.2";
        default:
            return nullptr;
    }
}

const char* digestOf(KeyClass k) {
    switch (k) {
        case KeyClass::G2001:
            return "md_gost94";
        case KeyClass::G2012_256:
            return "md_gost12_256";
        default:
            return "md_gost12_512";
    }
}

bool digest(KeyClass k, const Bytes& data, Bytes& out) {
    const EVP_MD* md = EVP_get_digestbyname(digestOf(k));
    unsigned char buf[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!md || !EVP_Digest(data.data(), data.size(), buf, &len, md, theEngine())) return false;
    out.assign(buf, buf + len);
    return true;
}

bool cfb(const Bytes& key, const Bytes& iv, const char* sbox, const Bytes& in, bool encrypt, Bytes& out) {
    const EVP_CIPHER* cipher = ENGINE_get_cipher(theEngine(), NID_id_Gost28147_89);
    EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
    out.assign(in.size() + 16, 0);
    int n1 = 0, n2 = 0;
    const bool ok = cipher && c && EVP_CipherInit_ex(c, cipher, theEngine(), nullptr, nullptr, encrypt ? 1 : 0) &&
                    EVP_CIPHER_CTX_ctrl(c, kCtrlSetSbox, 0, const_cast<char*>(sbox)) > 0 &&
                    EVP_CipherInit_ex(c, nullptr, nullptr, key.data(), iv.data(), encrypt ? 1 : 0) &&
                    EVP_CipherUpdate(c, out.data(), &n1, in.data(), static_cast<int>(in.size())) &&
                    EVP_CipherFinal_ex(c, out.data() + n1, &n2);
    EVP_CIPHER_CTX_free(c);
    if (!ok) {
        ERR_clear_error();
        return false;
    }
    out.resize(static_cast<std::size_t>(n1 + n2));
    return true;
}

// The key transport structure of the engine: encrypted key and MAC, then
// the cipher parameter set and the UKM.
Bytes transportDer(const Bytes& encKey, const Bytes& mac, const char* cipherOid, const Bytes& ukm) {
    return tlv(0x30, cat({tlv(0x30, cat({tlv(0x04, encKey), tlv(0x04, mac)})),
                          tlv(0xA0, cat({oidDer(cipherOid), tlv(0x04, ukm)}))}));
}

bool transportParts(const Bytes& der, Bytes& encKey, Bytes& mac, Bytes& ukm) {
    const unsigned char* p = der.data();
    unsigned char tag = 0;
    Bytes outer, info, params, oid;
    if (!readTlv(p, der.data() + der.size(), tag, outer) || tag != 0x30) return false;
    p = outer.data();
    const unsigned char* end = p + outer.size();
    if (!readTlv(p, end, tag, info) || tag != 0x30 || !readTlv(p, end, tag, params) || tag != 0xA0) return false;
    const unsigned char* i = info.data();
    if (!readTlv(i, info.data() + info.size(), tag, encKey) || !readTlv(i, info.data() + info.size(), tag, mac))
        return false;
    const unsigned char* q = params.data();
    const unsigned char* qend = q + params.size();
    if (!readTlv(q, qend, tag, oid)) return false;
    while (readTlv(q, qend, tag, ukm)) {
        if (tag == 0x04) return true;
    }
    return false;
}

// The S-box named at the end of a SIMPLEBLOB (its cipher parameter set).
const char* sboxOfSimpleBlob(const Bytes& blob, KeyClass fallback) {
    const Bytes a = oidDer(kSboxA), z = oidDer(kSboxZ);
    auto endsWithin = [&](const Bytes& oid) {
        return blob.size() >= 60 + oid.size() &&
               std::search(blob.begin() + 60, blob.end(), oid.begin(), oid.end()) != blob.end();
    };
    if (endsWithin(z)) return kSboxZ;
    if (endsWithin(a)) return kSboxA;
    return fallback == KeyClass::G2001 ? kSboxA : kSboxZ;
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

bool engineReady() { return theEngine() != nullptr; }
void* engineHandle() { return theEngine(); }
void* rawKey(const KeyPtr& key) { return key ? key->pkey : nullptr; }
KeyPtr adoptKey(void* evpPkey) { return evpPkey ? std::make_shared<Key>(static_cast<EVP_PKEY*>(evpPkey)) : nullptr; }

Bytes randomBytes(std::size_t n) {
    Bytes out(n);
    if (n && RAND_bytes(out.data(), static_cast<int>(n)) != 1) out.clear();
    return out;
}

KeyPtr generateKey(KeyClass kind, const std::string& paramset) {
    const int nid = kind == KeyClass::G2001       ? NID_id_GostR3410_2001
                    : kind == KeyClass::G2012_256 ? NID_id_GostR3410_2012_256
                                                  : NID_id_GostR3410_2012_512;
    EVP_PKEY_CTX* c = EVP_PKEY_CTX_new_id(nid, theEngine());
    EVP_PKEY* k = nullptr;
    const bool ok = c && EVP_PKEY_keygen_init(c) > 0 && EVP_PKEY_CTX_ctrl_str(c, "paramset", paramset.c_str()) > 0 &&
                    EVP_PKEY_keygen(c, &k) > 0;
    EVP_PKEY_CTX_free(c);
    if (!ok) {
        ERR_print_errors_fp(stderr);
        return nullptr;
    }
    return std::make_shared<Key>(k);
}

bool saveKey(const KeyPtr& key, const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = PEM_write_PrivateKey(f, key->pkey, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    return std::fclose(f) == 0 && ok;
}

KeyPtr loadKey(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return nullptr;
    EVP_PKEY* k = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
    std::fclose(f);
    if (!k) {
        ERR_clear_error();
        return nullptr;
    }
    return std::make_shared<Key>(k);
}

KeyClass classOf(const KeyPtr& key) {
    switch (EVP_PKEY_base_id(key->pkey)) {
        case NID_id_GostR3410_2001:
            return KeyClass::G2001;
        case NID_id_GostR3410_2012_256:
            return KeyClass::G2012_256;
        default:
            return KeyClass::G2012_512;
    }
}

unsigned signatureSize(KeyClass kind) { return kind == KeyClass::G2012_512 ? 128 : 64; }
bool is2012(KeyClass kind) { return kind != KeyClass::G2001; }

Bytes publicBlob(const KeyPtr& key) {
    unsigned char* buf = nullptr;
    const int n = i2d_PUBKEY(key->pkey, &buf);
    Bytes spki;
    if (n > 0) spki.assign(buf, buf + n);
    OPENSSL_free(buf);
    // SEQUENCE { SEQUENCE { OID, params }, BIT STRING { 00, OCTET STRING raw } }
    const unsigned char* p = spki.data();
    unsigned char tag = 0;
    Bytes seq, alg, bits, oid, params, raw;
    if (!readTlv(p, spki.data() + spki.size(), tag, seq)) return {};
    p = seq.data();
    const unsigned char* end = p + seq.size();
    if (!readTlv(p, end, tag, alg) || !readTlv(p, end, tag, bits) || bits.empty()) return {};
    const unsigned char* a = alg.data();
    if (!readTlv(a, alg.data() + alg.size(), tag, oid)) return {};
    params.assign(a, static_cast<const unsigned char*>(alg.data() + alg.size()));
    const unsigned char* b = bits.data() + 1;
    if (!readTlv(b, bits.data() + bits.size(), tag, raw) || tag != 0x04) return {};

    const KeyClass kind = classOf(key);
    const std::uint32_t alg32 = kind == KeyClass::G2001 ? kAlg2001 : kind == KeyClass::G2012_256 ? kAlg2012_256
                                                                                                 : kAlg2012_512;
    Bytes blob = {0x06, 0x20, 0x00, 0x00};
    putLe32(blob, alg32);
    blob.insert(blob.end(), {'M', 'A', 'G', '1'});
    putLe32(blob, static_cast<std::uint32_t>(raw.size() * 8));
    blob.insert(blob.end(), params.begin(), params.end());
    blob.insert(blob.end(), raw.begin(), raw.end());
    return blob;
}

KeyPtr keyFromBlob(const Bytes& blob) {
    if (blob.size() < 18 || blob[0] != 0x06 || std::memcmp(blob.data() + 8, "MAG1", 4) != 0) return nullptr;
    const char* algOid = algOidOf(le32(blob, 4));
    const std::uint32_t bits = le32(blob, 12);
    if (!algOid || (bits != 512 && bits != 1024) || blob.size() < 16 + bits / 8 + 2) return nullptr;
    const std::size_t rawAt = blob.size() - bits / 8;
    // The parameters are one DER SEQUENCE right behind the 16-byte header.
    const unsigned char* p = blob.data() + 16;
    unsigned char tag = 0;
    Bytes content, params;
    if (!readTlv(p, blob.data() + rawAt, tag, content, &params) || tag != 0x30 ||
        p != blob.data() + rawAt)
        return nullptr;
    const Bytes raw(blob.begin() + static_cast<long>(rawAt), blob.end());
    Bytes bitContent{0x00};
    const Bytes octets = tlv(0x04, raw);
    bitContent.insert(bitContent.end(), octets.begin(), octets.end());
    const Bytes spki = tlv(0x30, cat({tlv(0x30, cat({oidDer(algOid), params})), tlv(0x03, bitContent)}));
    const unsigned char* q = spki.data();
    EVP_PKEY* k = d2i_PUBKEY(nullptr, &q, static_cast<long>(spki.size()));
    if (!k) {
        ERR_clear_error();
        return nullptr;
    }
    return std::make_shared<Key>(k);
}

bool sameKey(const Bytes& a, const Bytes& b) {
    if (a == b) return true;
    if (a.size() < 16 || b.size() < 16) return false;
    const std::size_t na = le32(a, 12) / 8, nb = le32(b, 12) / 8;
    if (na == 0 || na != nb || na > a.size() - 16 || nb > b.size() - 16) return false;
    return le32(a, 4) == le32(b, 4) &&
           std::equal(a.end() - static_cast<long>(na), a.end(), b.end() - static_cast<long>(nb));
}

Bytes sign(const KeyPtr& key, const Bytes& data) {
    Bytes h;
    if (!digest(classOf(key), data, h)) return {};
    EVP_PKEY_CTX* c = EVP_PKEY_CTX_new(key->pkey, theEngine());
    unsigned char sig[256];
    size_t len = sizeof sig;
    const bool ok = c && EVP_PKEY_sign_init(c) > 0 && EVP_PKEY_sign(c, sig, &len, h.data(), h.size()) > 0;
    EVP_PKEY_CTX_free(c);
    if (!ok) {
        ERR_clear_error();
        return {};
    }
    Bytes out(sig, sig + len);
    std::reverse(out.begin(), out.end());
    return out;
}

bool verify(const KeyPtr& key, const Bytes& data, const Bytes& signature) {
    Bytes h;
    if (signature.size() != signatureSize(classOf(key)) || !digest(classOf(key), data, h)) return false;
    Bytes engineOrder(signature.rbegin(), signature.rend());
    EVP_PKEY_CTX* c = EVP_PKEY_CTX_new(key->pkey, theEngine());
    const bool ok = c && EVP_PKEY_verify_init(c) > 0 &&
                    EVP_PKEY_verify(c, engineOrder.data(), engineOrder.size(), h.data(), h.size()) == 1;
    EVP_PKEY_CTX_free(c);
    ERR_clear_error();
    return ok;
}

bool encryptMessage(const KeyPtr& own, const KeyPtr& recipient, const Bytes& plain, Bytes& message) {
    const KeyClass kind = classOf(own);
    const char* sbox = kind == KeyClass::G2001 ? kSboxA : kSboxZ;
    const Bytes cek = randomBytes(32), ukm = randomBytes(8), iv = randomBytes(8);
    if (cek.size() != 32 || ukm.size() != 8 || iv.size() != 8) return false;

    // Key transport with the sender's static key: the engine agrees the KEK
    // (VKO with the UKM) and wraps the key with the CryptoPro key wrap.
    EVP_PKEY_CTX* c = EVP_PKEY_CTX_new(recipient->pkey, theEngine());
    unsigned char wrapped[512];
    size_t len = sizeof wrapped;
    const bool ok = c && EVP_PKEY_encrypt_init(c) > 0 && EVP_PKEY_derive_set_peer(c, own->pkey) > 0 &&
                    EVP_PKEY_CTX_ctrl(c, -1, -1, EVP_PKEY_CTRL_SET_IV, 8, const_cast<unsigned char*>(ukm.data())) > 0 &&
                    EVP_PKEY_encrypt(c, wrapped, &len, cek.data(), cek.size()) > 0;
    EVP_PKEY_CTX_free(c);
    Bytes enc, mac, gotUkm;
    if (!ok || !transportParts(Bytes(wrapped, wrapped + len), enc, mac, gotUkm) || enc.size() != 32 ||
        mac.size() != 4) {
        ERR_clear_error();
        return false;
    }
    Bytes blob = {0x01, 0x20, 0x00, 0x00, 0x1E, 0x66, 0x00, 0x00, 0xFD, 0x51, 0x4A, 0x37, 0x1E, 0x66, 0x00, 0x00};
    blob.insert(blob.end(), ukm.begin(), ukm.end());
    blob.insert(blob.end(), enc.begin(), enc.end());
    blob.insert(blob.end(), mac.begin(), mac.end());
    const Bytes params = tlv(0x30, oidDer(sbox));
    blob.insert(blob.end(), params.begin(), params.end());

    Bytes cipher;
    if (!cfb(cek, iv, sbox, plain, true, cipher)) return false;
    message.clear();
    message.reserve(12 + blob.size() + cipher.size() + 8);
    putLe32(message, static_cast<std::uint32_t>(blob.size()));
    message.insert(message.end(), blob.begin(), blob.end());
    putLe32(message, 8);
    message.insert(message.end(), iv.begin(), iv.end());
    message.insert(message.end(), cipher.begin(), cipher.end());
    return true;
}

bool decryptMessage(const KeyPtr& own, const KeyPtr& sender, const Bytes& message, Bytes& plain) {
    Reader r(message);
    const Bytes blob = r.blob();
    const std::uint32_t ivLen = r.u32();
    const Bytes iv = r.take(8);
    if (r.bad() || blob.size() < 60 || ivLen != 8) return false;
    const Bytes ukm(blob.begin() + 16, blob.begin() + 24), enc(blob.begin() + 24, blob.begin() + 56),
        mac(blob.begin() + 56, blob.begin() + 60);
    const char* sbox = sboxOfSimpleBlob(blob, classOf(own));
    const Bytes der = transportDer(enc, mac, sbox, ukm);

    EVP_PKEY_CTX* c = EVP_PKEY_CTX_new(own->pkey, theEngine());
    unsigned char cek[64];
    size_t len = sizeof cek;
    const bool ok = c && EVP_PKEY_decrypt_init(c) > 0 && EVP_PKEY_derive_set_peer(c, sender->pkey) > 0 &&
                    EVP_PKEY_decrypt(c, cek, &len, der.data(), der.size()) > 0 && len == 32;
    EVP_PKEY_CTX_free(c);
    if (!ok) {
        ERR_clear_error();
        return false;
    }
    const Bytes cipher(message.begin() + static_cast<long>(r.pos()), message.end());
    return cfb(Bytes(cek, cek + 32), iv, sbox, cipher, false, plain);
}

}  // namespace capeer
