#include "TestControl.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <mutex>
#include <sstream>

#include "CaCertificates.h"
#include "OpenSslPtr.h"
#include "TransportFormat.h"

namespace capeer {

namespace {


EVP_PKEY* pkeyOf(const KeyPtr& key) { return static_cast<EVP_PKEY*>(rawKey(key)); }

HttpAnswer plain(int status, const std::string& body) {
    HttpAnswer a;
    a.status = status;
    a.contentType = "text/plain; charset=utf-8";
    a.body = bytesOf(body + "\n");
    a.note = body;
    return a;
}

HttpAnswer binary(Bytes body, std::string note) {
    HttpAnswer a;
    a.body = std::move(body);
    a.note = std::move(note);
    return a;
}

// The software CSP's description of each key class: provider kind, public
// key algorithm, signature and hash parameter sets, coordinate size.
struct ClassInfo {
    KeyClass cls;
    const char* paramset;  // the engine's name of the curve
    unsigned alg;
    const char* curveOid;
    const char* hashOid;
    unsigned coord;
};

const ClassInfo* classInfo(int kind) {
    static const ClassInfo k75{KeyClass::G2001, "A", 0x2E23, "1.2.643.2.2.35.1", "1.2.643.2.2.30.1", 32};
    static const ClassInfo k80{KeyClass::G2012_256, "XA", 0x2E49, "1.2.643.2.2.36.0", "1.2.643.7.1.1.2.2", 32};
    static const ClassInfo k81{KeyClass::G2012_512, "A", 0x2E3D, "1.2.643.7.1.2.1.2.1", "1.2.643.7.1.1.2.3", 64};
    switch (kind) {
        case 75: return &k75;
        case 80: return &k80;
        case 81: return &k81;
        default: return nullptr;
    }
}

const EVP_MD* digestFor(const KeyPtr& signer) {
    switch (classOf(signer)) {
        case KeyClass::G2001: return EVP_get_digestbyname("md_gost94");
        case KeyClass::G2012_256: return EVP_get_digestbyname("md_gost12_256");
        default: return EVP_get_digestbyname("md_gost12_512");
    }
}

// The key container file: "PLK1", version 1, provider kind, key algorithm,
// curve and hash parameter sets, LE(x)||LE(y), private scalar big-endian.
Bytes containerFile(const KeyPtr& key, int kind, const ClassInfo& info) {
    const auto* ec = static_cast<const EC_KEY*>(EVP_PKEY_get0(pkeyOf(key)));
    const BIGNUM* d = ec ? EC_KEY_get0_private_key(ec) : nullptr;
    const Bytes blob = publicBlob(key);
    if (!d || blob.size() < 2 * info.coord) return {};
    Bytes priv(info.coord);
    if (BN_bn2binpad(d, priv.data(), static_cast<int>(priv.size())) < 0) return {};
    Writer w;
    w.raw(std::string("PLK1")).u32(1).u32(static_cast<std::uint32_t>(kind)).u32(info.alg);
    w.str(info.curveOid).str(info.hashOid);
    w.blob(Bytes(blob.end() - 2 * info.coord, blob.end())).blob(priv);
    return w.take();
}

bool addExt(X509* x, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer, x, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!ext) return false;
    const bool ok = X509_add_ext(x, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

X509Ptr parse(const Bytes& der) {
    const unsigned char* p = der.data();
    return X509Ptr(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
}

Bytes der(X509* x) {
    unsigned char* buf = nullptr;
    const int n = i2d_X509(x, &buf);
    Bytes out;
    if (n > 0) out.assign(buf, buf + n);
    OPENSSL_free(buf);
    return out;
}

bool setSerial(ASN1_INTEGER* target, const Bytes& bigEndian) {
    Bytes raw = bigEndian.empty() ? randomBytes(16) : bigEndian;
    if (bigEndian.empty()) raw[0] = static_cast<unsigned char>((raw[0] & 0x7F) | 0x10);
    BIGNUM* bn = BN_bin2bn(raw.data(), static_cast<int>(raw.size()), nullptr);
    const bool ok = bn && BN_to_ASN1_INTEGER(bn, target) != nullptr;
    BN_free(bn);
    return ok;
}

long toLong(const std::string& s, long fallback) {
    try {
        return s.empty() ? fallback : std::stol(s);
    } catch (...) {
        return fallback;
    }
}

// "oid=value" lines into a name, in order.
bool subjectOf(const Bytes& body, X509_NAME* name) {
    std::istringstream lines(textOf(body));
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) return false;
        ASN1_OBJECT* obj = OBJ_txt2obj(line.substr(0, eq).c_str(), 1);
        const std::string value = line.substr(eq + 1);
        const bool ok = obj && X509_NAME_add_entry_by_OBJ(name, obj, MBSTRING_UTF8,
                                                          reinterpret_cast<const unsigned char*>(value.data()),
                                                          static_cast<int>(value.size()), -1, 0) == 1;
        ASN1_OBJECT_free(obj);
        if (!ok) return false;
    }
    return true;
}

HttpAnswer userCert(const PeerState& state, std::map<std::string, std::string>& form, const Bytes& body) {
    const int kind = static_cast<int>(toLong(form["kind"], 80));
    const ClassInfo* info = classInfo(kind);
    if (!info) return plain(400, "kind must be 75, 80 or 81");
    const KeyPtr key = generateKey(info->cls, info->paramset);
    if (!key) return plain(500, "cannot make the key");

    // The issuer: the CA of the kind's generation, or a CA nobody trusts.
    const CaKey& ca = state.ca(kind == 75 ? 2001 : 2012);
    KeyPtr issuerKey = ca.key;
    Bytes issuerCert = ca.certificate;
    if (form["issuer"] == "stranger") {
        issuerKey = generateKey(kind == 75 ? KeyClass::G2001 : KeyClass::G2012_256, kind == 75 ? "A" : "XA");
        issuerCert = issuerKey ? makeCaCertificate(issuerKey, "Untrusted Test CA", 3650) : Bytes();
    }
    X509Ptr issuer = parse(issuerCert);
    X509Ptr x(X509_new());
    NamePtr subject(X509_NAME_new());
    if (!issuer || !x || !subject || !subjectOf(body, subject.get())) {
        ERR_clear_error();
        return plain(400, "bad subject or issuer");
    }
    bool ok = X509_set_version(x.get(), 2) && setSerial(X509_get_serialNumber(x.get()), unhex(form["serial"])) &&
              X509_set_subject_name(x.get(), subject.get()) &&
              X509_set_issuer_name(x.get(), X509_get_subject_name(issuer.get())) &&
              X509_gmtime_adj(X509_getm_notBefore(x.get()), toLong(form["from"], -3600)) &&
              X509_gmtime_adj(X509_getm_notAfter(x.get()), toLong(form["to"], 365L * 86400)) &&
              X509_set_pubkey(x.get(), pkeyOf(key)) &&
              addExt(x.get(), issuer.get(), NID_key_usage, "critical,digitalSignature,keyEncipherment,keyAgreement") &&
              addExt(x.get(), issuer.get(), NID_subject_key_identifier, "hash");
    if (ok && form["aki"] != "0") ok = addExt(x.get(), issuer.get(), NID_authority_key_identifier, "keyid:always");
    if (ok && !form["eku"].empty()) ok = addExt(x.get(), issuer.get(), NID_ext_key_usage, form["eku"]);
    ok = ok && X509_sign(x.get(), pkeyOf(issuerKey), digestFor(issuerKey)) > 0;
    const Bytes keyFile = ok ? containerFile(key, kind, *info) : Bytes();
    if (!ok || keyFile.empty()) {
        ERR_clear_error();
        return plain(500, "the certificate could not be made");
    }
    Writer w;
    w.blob(keyFile).blob(der(x.get()));
    return binary(w.take(), "user certificate, kind " + std::to_string(kind));
}

HttpAnswer crl(const PeerState& state, std::map<std::string, std::string>& form) {
    const CaKey& ca = state.ca(form["generation"] == "2001" ? 2001 : 2012);
    X509Ptr issuer = parse(ca.certificate);
    CrlPtr list(X509_CRL_new());
    if (!issuer || !list) return plain(500, "no CA certificate");
    ASN1_TIME* now = X509_gmtime_adj(nullptr, -3600);
    ASN1_TIME* next = X509_gmtime_adj(nullptr, 7L * 86400);
    bool ok = X509_CRL_set_version(list.get(), 1) && X509_CRL_set_issuer_name(list.get(), X509_get_subject_name(issuer.get())) &&
              X509_CRL_set1_lastUpdate(list.get(), now) && X509_CRL_set1_nextUpdate(list.get(), next);
    std::istringstream serials(form["serials"]);
    std::string hex;
    while (ok && std::getline(serials, hex, ',')) {
        X509_REVOKED* entry = X509_REVOKED_new();
        ASN1_INTEGER* serial = ASN1_INTEGER_new();
        ok = entry && serial && setSerial(serial, unhex(hex)) && X509_REVOKED_set_serialNumber(entry, serial) &&
             X509_REVOKED_set_revocationDate(entry, now) && X509_CRL_add0_revoked(list.get(), entry);
        ASN1_INTEGER_free(serial);
        if (!ok) X509_REVOKED_free(entry);
    }
    if (ok) {
        X509V3_CTX ctx;
        X509V3_set_ctx(&ctx, issuer.get(), nullptr, nullptr, list.get(), 0);
        X509_EXTENSION* aki = X509V3_EXT_conf_nid(nullptr, &ctx, NID_authority_key_identifier, "keyid:always");
        ok = aki && X509_CRL_add_ext(list.get(), aki, -1) == 1;
        X509_EXTENSION_free(aki);
    }
    ok = ok && X509_CRL_sort(list.get()) && X509_CRL_sign(list.get(), pkeyOf(ca.key), digestFor(ca.key)) > 0;
    ASN1_TIME_free(now);
    ASN1_TIME_free(next);
    unsigned char* buf = nullptr;
    const int n = ok ? i2d_X509_CRL(list.get(), &buf) : 0;
    Bytes out;
    if (n > 0) out.assign(buf, buf + n);
    OPENSSL_free(buf);
    if (out.empty()) {
        ERR_clear_error();
        return plain(500, "the revocation list could not be made");
    }
    return binary(std::move(out), "revocation list");
}

// The peer's own test keys, one per class, made on first use.
const CaKey& peerKey(KeyClass cls) {
    static std::mutex mutex;
    static std::map<KeyClass, CaKey> keys;
    std::lock_guard<std::mutex> lock(mutex);
    CaKey& k = keys[cls];
    if (!k.key) {
        k.key = cls == KeyClass::G2001       ? generateKey(cls, "A")
                : cls == KeyClass::G2012_256 ? generateKey(cls, "XA")
                                             : generateKey(cls, "A");
        k.generation = cls == KeyClass::G2001 ? 2001 : 2012;
        if (k.key) k.blob = publicBlob(k.key);
    }
    return k;
}

bool classOfText(const std::string& s, KeyClass& out) {
    if (s == "2001") out = KeyClass::G2001;
    else if (s == "256") out = KeyClass::G2012_256;
    else if (s == "512") out = KeyClass::G2012_512;
    else return false;
    return true;
}

HttpAnswer packet(const PeerState& state, std::map<std::string, std::string>& form, const Bytes& body) {
    const Bytes recipient = unhex(form["recipient"]);
    const KeyPtr recipientKey = keyFromBlob(recipient);
    if (!recipientKey) return plain(400, "recipient is not a GOST public key blob");
    const KeyClass cls = classOf(recipientKey);
    const CaKey& sender = form["sender"] == "ca" ? state.ca(cls == KeyClass::G2001 ? 2001 : 2012) : peerKey(cls);
    const Bytes out = buildPacket(sender, recipient, unhex(form["serial"]), body, form["encrypt"] != "0");
    if (out.empty()) return plain(400, "no packet for that recipient");
    return binary(out, "test packet");
}

// Opens a packet addressed to one of the peer's test keys.
HttpAnswer openTestPacket(std::map<std::string, std::string>& form, const Bytes& packet) {
    Reader r(packet);
    if (!r.startsWith(kMagic)) return plain(400, "no transport magic");
    r.skip(kMagic.size());
    KeyHeader h;
    Reader peek(packet, r.pos());
    if (peek.u32() == kHeaderMarker) {
        r.u32();
        h.format = r.u32();
        h.sender = r.blob();
        h.recipient = r.blob();
        h.serial = r.blob();
    } else {
        h.format = 1;
        h.sender = r.blob();
    }
    const KeyPtr sender = keyFromBlob(h.sender);
    if (r.bad() || !sender) return plain(400, "damaged key exchange header");
    const CaKey* own = nullptr;
    if (h.format == 1) {
        own = &peerKey(KeyClass::G2001);
    } else {
        for (KeyClass c : {KeyClass::G2001, KeyClass::G2012_256, KeyClass::G2012_512}) {
            if (sameKey(h.recipient, peerKey(c).blob)) own = &peerKey(c);
        }
    }
    if (!own) return plain(400, "not addressed to a key of the peer");
    const std::size_t sigSize = signatureSize(classOf(sender));
    if (packet.size() < r.pos() + sigSize) return plain(400, "shorter than its header and signature");
    const std::size_t signedLen = packet.size() - sigSize;
    const Bytes signedPart(packet.begin(), packet.begin() + static_cast<long>(signedLen));
    const Bytes signature(packet.begin() + static_cast<long>(signedLen), packet.end());
    if (!verify(sender, signedPart, signature)) return plain(400, "the signature does not verify");
    const Bytes bodyPart(packet.begin() + static_cast<long>(r.pos()), packet.begin() + static_cast<long>(signedLen));
    if (form["encrypted"] == "0") return binary(bodyPart, "opened signed packet");
    Bytes payload;
    if (!decryptMessage(own->key, sender, bodyPart, payload)) return plain(400, "the body does not decrypt");
    return binary(payload, "opened packet");
}

}  // namespace

bool isTestControl(const std::string& verb) {
    return verb == "usercert" || verb == "crl" || verb == "peerkey" || verb == "packet" || verb == "open";
}

HttpAnswer testControl(const PeerState& state, const std::string& verb, std::map<std::string, std::string>& form,
                       const Bytes& body) {
    if (verb == "usercert") return userCert(state, form, body);
    if (verb == "crl") return crl(state, form);
    if (verb == "packet") return packet(state, form, body);
    if (verb == "open") return openTestPacket(form, body);
    KeyClass cls{};
    if (!classOfText(form["class"], cls)) return plain(400, "class must be 2001, 256 or 512");
    const CaKey& k = peerKey(cls);
    if (k.blob.empty()) return plain(500, "cannot make the key");
    return binary(k.blob, "peer key");
}

}  // namespace capeer
