// Key blobs of the software GOST provider: CryptExportKey and
// CryptImportKey for PUBLICKEYBLOB and SIMPLEBLOB.
//
// PUBLICKEYBLOB (little-endian): 06 20 00 00, aiKeyAlg (4), "MAG1", BitLen
// (4), DER SEQUENCE { signature parameter set OID, hash parameter set OID },
// then the key value LE(x)||LE(y) of BitLen/8 bytes. Importing it with the
// user key as hPubKey gives the agreed key (VKO) with a fresh random UKM as
// its KP_IV.
//
// SIMPLEBLOB: 01 20 00 00, 0x661E (4), magic 0x374A51FD (4), 0x661E (4),
// UKM (8), encrypted session key (32), MAC (4), DER SEQUENCE { cipher
// parameter set OID }. The key-encryption key is VKO of the private key,
// the peer key and the UKM; the session key is wrapped with the CryptoPro
// key wrap under it. Export takes the UKM from the agreed key's KP_IV,
// import from the blob.
#include <algorithm>
#include <cstring>

#include "softgost/provider/CspObjects.h"
#include "softgost/gost/GostEc.h"

using namespace plcsp;

namespace {

constexpr std::size_t kSimpleFixed = 60;
constexpr std::size_t kPublicFixed = 16;

void putLe32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

std::uint32_t le32(const unsigned char* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

int vkoHash(const KeyClassInfo& cls) {
    return cls.cls == KeyClass::G2001 ? GCRY_MD_GOSTR3411_CP : GCRY_MD_STRIBOG256;
}

constexpr std::size_t kAgreementsKept = 8;

// The KEK of an agreement for one UKM. The key pair keeps the static part
// of its agreement with each recent peer key, so that a message costs one
// short multiplication instead of a full one.
bool agreedKek(const KeyObject& agree, const unsigned char* ukm, unsigned char* kek) {
    KeyPair& pair = *agree.pair;
    const std::vector<unsigned char>& peer = agree.pub->pub;
    SecureBytes staticRaw;
    {
        std::lock_guard<std::mutex> lock(pair.agreedMutex);
        for (const auto& entry : pair.agreed) {
            if (entry.first == peer) {
                staticRaw = entry.second;
                break;
            }
        }
    }
    if (staticRaw.size() == 0) {
        if (!ecVkoStatic(*pair.curve, pair.d.get(), peer.data(), staticRaw)) return false;
        std::lock_guard<std::mutex> lock(pair.agreedMutex);
        if (pair.agreed.size() >= kAgreementsKept) pair.agreed.erase(pair.agreed.begin());
        pair.agreed.emplace_back(peer, staticRaw);
    }
    return ecVkoWithStatic(*pair.curve, staticRaw.data(), ukm, vkoHash(*pair.cls), kek);
}

std::vector<unsigned char> publicBlob(const KeyClassInfo& cls, const std::vector<std::string>& oids,
                                      const std::vector<unsigned char>& pub) {
    const auto seq = derOidSequence(oids);
    std::vector<unsigned char> blob(kPublicFixed + seq.size() + pub.size());
    blob[0] = PUBLICKEYBLOB;
    blob[1] = 0x20;
    putLe32(&blob[4], cls.pubKeyAlg);
    putLe32(&blob[8], GR3410_1_MAGIC);
    putLe32(&blob[12], cls.bits);
    std::memcpy(&blob[kPublicFixed], seq.data(), seq.size());
    std::memcpy(&blob[kPublicFixed + seq.size()], pub.data(), pub.size());
    return blob;
}

BOOL exportPublic(const KeyObject& key, BYTE* out, DWORD* len) {
    std::vector<unsigned char> blob;
    if (key.kind == KeyKind::Pair) {
        blob = publicBlob(*key.pair->cls, {key.pair->curveOid, key.pair->hashOid}, key.pair->pub);
    } else if (key.kind == KeyKind::Public) {
        blob = publicBlob(*key.pub->cls, key.pub->paramOids, key.pub->pub);
    } else {
        return fail(NTE_BAD_KEY);
    }
    return putOutput(blob.data(), static_cast<DWORD>(blob.size()), out, len);
}

BOOL exportSimple(KeyObject& session, KeyObject& agree, BYTE* out, DWORD* len) {
    if (session.kind != KeyKind::Session) {
        return fail(NTE_BAD_KEY);
    }
    if (agree.kind != KeyKind::Agree) {
        return fail(NTE_BAD_PUBLIC_KEY);
    }
    if (!session.exportable) {
        return fail(NTE_BAD_KEY_STATE);
    }
    const auto params = derOidSequence({session.sboxOid});
    const DWORD size = static_cast<DWORD>(kSimpleFixed + params.size());
    if (!out) {
        *len = size;
        return TRUE;
    }
    if (*len < size) {
        *len = size;
        return fail(ERROR_MORE_DATA);
    }
    SecureBytes kekHolder(32);
    if (!agreedKek(agree, agree.iv, kekHolder.data())) {
        return fail(NTE_FAIL);
    }
    std::vector<unsigned char> blob(size);
    blob[0] = SIMPLEBLOB;
    blob[1] = 0x20;
    putLe32(&blob[4], CALG_G28147);
    putLe32(&blob[8], G28147_MAGIC);
    putLe32(&blob[12], CALG_G28147);
    std::memcpy(&blob[16], agree.iv, 8);
    if (!wrapKey(kekHolder.data(), agree.iv, session.sboxOid, session.secret.data(), &blob[24],
                 &blob[56])) {
        return fail(NTE_FAIL);
    }
    std::memcpy(&blob[kSimpleFixed], params.data(), params.size());
    return putOutput(blob.data(), size, out, len);
}

// Checks and reads a PUBLICKEYBLOB; nothing outside [p, p + n) is read.
bool parsePublicBlob(const BYTE* p, std::size_t n, PublicKeyData& out) {
    if (n < kPublicFixed + 2 || p[0] != PUBLICKEYBLOB || p[1] != 0x20 ||
        le32(p + 8) != GR3410_1_MAGIC) {
        return false;
    }
    out.cls = classOfPubKeyAlg(le32(p + 4));
    if (!out.cls || le32(p + 12) != out.cls->bits) {
        return false;
    }
    DerTlv seq;
    if (!readTlv(p + kPublicFixed, n - kPublicFixed, seq)) {
        return false;
    }
    const std::size_t seqSize = seq.headerLength + seq.length;
    const std::size_t keyBytes = out.cls->bits / 8;
    if (n - kPublicFixed - seqSize != keyBytes ||
        !parseOidSequence(p + kPublicFixed, seqSize, out.paramOids)) {
        return false;
    }
    out.curve = curveOfOid(out.paramOids[0]);
    if (!out.curve || 2 * out.curve->coordBytes != keyBytes) {
        return false;
    }
    const BYTE* key = p + kPublicFixed + seqSize;
    if (!ecCheckPublic(*out.curve, key, keyBytes)) {
        return false;  // not a point of the curve
    }
    out.pub.assign(key, key + keyBytes);
    return true;
}

BOOL importPublic(HCRYPTPROV hProv, const BYTE* p, DWORD n, HCRYPTKEY hPubKey, HCRYPTKEY* phKey) {
    auto data = std::make_shared<PublicKeyData>();
    if (!parsePublicBlob(p, n, *data)) {
        return fail(NTE_BAD_DATA);
    }
    auto key = std::make_shared<KeyObject>();
    key->owner = hProv;
    key->pub = data;
    if (hPubKey == 0) {
        key->kind = KeyKind::Public;
        *phKey = registry().addKey(std::move(key));
        return TRUE;
    }
    auto own = registry().key(hPubKey);
    if (!own || own->kind != KeyKind::Pair) {
        return fail(NTE_BAD_KEY);
    }
    // Agreement needs both keys of one class on one curve.
    if (own->pair->cls != data->cls ||
        std::strcmp(own->pair->curve->gcryName, data->curve->gcryName) != 0) {
        return fail(NTE_BAD_PUBLIC_KEY);
    }
    key->kind = KeyKind::Agree;
    key->pair = own->pair;
    do {
        randomBytes(key->iv, 8);
    } while (std::all_of(key->iv, key->iv + 8, [](unsigned char b) { return b == 0; }));
    key->exportAlg = CALG_PRO_EXPORT;
    *phKey = registry().addKey(std::move(key));
    return TRUE;
}

BOOL importSimple(HCRYPTPROV hProv, const BYTE* p, DWORD n, HCRYPTKEY hPubKey, DWORD flags,
                  HCRYPTKEY* phKey) {
    auto agree = registry().key(hPubKey);
    if (!agree || agree->kind != KeyKind::Agree) {
        return fail(NTE_BAD_KEY);
    }
    std::vector<std::string> params;
    if (n < kSimpleFixed + 2 || p[0] != SIMPLEBLOB || p[1] != 0x20 || le32(p + 4) != CALG_G28147 ||
        le32(p + 8) != G28147_MAGIC || le32(p + 12) != CALG_G28147 ||
        !parseOidSequence(p + kSimpleFixed, n - kSimpleFixed, params) || params.size() != 1 ||
        !isKnownSboxOid(params[0])) {
        return fail(NTE_BAD_DATA);
    }
    SecureBytes kek(32), cek;
    {
        std::lock_guard<std::mutex> lock(agree->mutex);
        if (!agreedKek(*agree, p + 16, kek.data())) {
            return fail(NTE_FAIL);
        }
    }
    if (!unwrapKey(kek.data(), p + 16, params[0], p + 24, p + 56, cek)) {
        return fail(NTE_BAD_DATA);  // wrong key or damaged blob: the MAC does not match
    }
    auto key = std::make_shared<KeyObject>();
    key->kind = KeyKind::Session;
    key->owner = hProv;
    key->secret = std::move(cek);
    key->sboxOid = params[0];
    key->exportable = (flags & CRYPT_EXPORTABLE) != 0;
    *phKey = registry().addKey(std::move(key));
    return TRUE;
}

}  // namespace

BOOL softgost::exportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD /*dwFlags*/,
                    BYTE* pbData, DWORD* pdwDataLen) {
    auto key = registry().key(hKey);
    if (!key) {
        return fail(NTE_BAD_KEY);
    }
    if (!pdwDataLen) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    if (dwBlobType == PUBLICKEYBLOB) {
        if (hExpKey != 0) {
            return fail(NTE_BAD_PUBLIC_KEY);
        }
        std::lock_guard<std::mutex> lock(key->mutex);
        return exportPublic(*key, pbData, pdwDataLen);
    }
    if (dwBlobType != SIMPLEBLOB) {
        return fail(NTE_BAD_TYPE);
    }
    auto exp = registry().key(hExpKey);
    if (!exp) {
        return fail(NTE_BAD_PUBLIC_KEY);
    }
    if (exp == key) {
        return fail(NTE_BAD_KEY);
    }
    std::scoped_lock lock(key->mutex, exp->mutex);
    return exportSimple(*key, *exp, pbData, pdwDataLen);
}

BOOL softgost::importKey(HCRYPTPROV hProv, const BYTE* pbData, DWORD dwDataLen, HCRYPTKEY hPubKey,
                    DWORD dwFlags, HCRYPTKEY* phKey) {
    if (!registry().provider(hProv)) {
        return fail(NTE_BAD_UID);
    }
    if (!phKey || !pbData || dwDataLen == 0) {
        return fail(ERROR_INVALID_PARAMETER);
    }
    switch (pbData[0]) {
        case PUBLICKEYBLOB:
            return importPublic(hProv, pbData, dwDataLen, hPubKey, phKey);
        case SIMPLEBLOB:
            return importSimple(hProv, pbData, dwDataLen, hPubKey, dwFlags, phKey);
        default:
            return fail(NTE_BAD_TYPE);
    }
}
