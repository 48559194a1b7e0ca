// The objects behind CryptoAPI handles of the software GOST provider and
// the process-wide table that hands them out.
//
// Handles are opaque numbers, never pointers: a stale, foreign or zero
// handle is looked up in the table, not dereferenced, so it fails with the
// CryptoAPI error of its kind instead of crashing. Every object carries its
// own mutex; the table has one for itself. Releasing a provider destroys the
// keys and hashes made on it, as CryptoAPI does.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "softgost/gost/Gost28147.h"
#include "softgost/gost/GostParams.h"
#include "platform/wincrypt.h"
#include "softgost/provider/ProviderApi.h"

namespace plcsp {

// A container's key pair, shared by the key handles that use it.
struct KeyPair {
    const KeyClassInfo* cls = nullptr;
    const CurveInfo* curve = nullptr;
    std::string curveOid;
    std::string hashOid;
    std::vector<unsigned char> pub;  // LE(x) || LE(y)
    Mpi d;                           // secure
    std::string container;           // short name

    // The static part of the agreements of this key with peer keys (see
    // ecVkoStatic), by the peer's raw key; the newest last, a few kept.
    std::mutex agreedMutex;
    std::vector<std::pair<std::vector<unsigned char>, SecureBytes>> agreed;
};

// A public key imported from a PUBLICKEYBLOB.
struct PublicKeyData {
    const KeyClassInfo* cls = nullptr;
    const CurveInfo* curve = nullptr;
    std::vector<std::string> paramOids;  // as carried by the blob
    std::vector<unsigned char> pub;
};

enum class KeyKind { Pair, Public, Agree, Session };

struct KeyObject {
    std::mutex mutex;
    KeyKind kind = KeyKind::Session;
    HCRYPTPROV owner = 0;
    std::shared_ptr<KeyPair> pair;       // Pair, Agree (own private key)
    std::shared_ptr<PublicKeyData> pub;  // Public, Agree (peer key)
    unsigned char iv[8] = {};            // Agree: UKM; Session: IV
    ALG_ID exportAlg = CALG_PRO_EXPORT;  // Agree
    SecureBytes secret;                  // Session: 32-byte key
    std::string sboxOid;                 // Session
    bool exportable = false;             // Session
    CfbStream stream;                    // Session
};

struct HashObject {
    std::mutex mutex;
    HCRYPTPROV owner = 0;
    const HashInfo* info = nullptr;
    Md md;
    bool finished = false;
    std::vector<unsigned char> value;
};

struct Provider {
    std::mutex mutex;
    unsigned type = 0;
    const KeyClassInfo* cls = nullptr;
    bool verifyContext = false;
    std::string container;             // short name; empty for a verify context
    std::shared_ptr<KeyPair> userKey;  // AT_KEYEXCHANGE, null until generated
    std::vector<std::string> enumNames;
    std::size_t enumPos = 0;
    bool enumFqcn = false;  // CRYPT_FQCN given with CRYPT_FIRST holds for the enumeration
};

class Registry {
public:
    HCRYPTPROV addProvider(std::shared_ptr<Provider> p);
    HCRYPTKEY addKey(std::shared_ptr<KeyObject> k);
    HCRYPTHASH addHash(std::shared_ptr<HashObject> h);

    std::shared_ptr<Provider> provider(HCRYPTPROV h);
    std::shared_ptr<KeyObject> key(HCRYPTKEY h);
    std::shared_ptr<HashObject> hash(HCRYPTHASH h);

    bool removeProvider(HCRYPTPROV h);  // with its keys and hashes
    bool removeKey(HCRYPTKEY h);
    bool removeHash(HCRYPTHASH h);

private:
    ULONG_PTR nextHandle();
    std::mutex m_mutex;
    ULONG_PTR m_next = 0x10000;
    std::unordered_map<ULONG_PTR, std::shared_ptr<Provider>> m_providers;
    std::unordered_map<ULONG_PTR, std::shared_ptr<KeyObject>> m_keys;
    std::unordered_map<ULONG_PTR, std::shared_ptr<HashObject>> m_hashes;
};

Registry& registry();

// SetLastError(code) and FALSE.
BOOL fail(DWORD code);
// The CryptoAPI output convention: size query with a null buffer,
// ERROR_MORE_DATA with the needed size when the buffer is short.
BOOL putOutput(const void* src, DWORD n, BYTE* out, DWORD* len);

// Loads a container's key pair (with the private scalar); 0 or an error.
DWORD loadKeyPair(const std::string& container, std::shared_ptr<KeyPair>& out);

}  // namespace plcsp
