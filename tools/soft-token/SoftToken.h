// The software GOST token: a PKCS#11 module whose slots, tokens, sessions
// and objects live in this process, with token objects kept in files. All
// state sits behind one lock; every C_ function takes it for its whole call
// and lets no exception out (SOFT_CATCH).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crypto/Pkcs11Gost.h"
#include "softgost/gost/GcryptSupport.h"
#include "softgost/gost/Gost28147.h"
#include "tools/soft-token/SoftTokenConfig.h"

namespace softtoken {

using Bytes = std::vector<unsigned char>;

struct Object {
    CK_OBJECT_HANDLE handle = 0;
    CK_SLOT_ID slot = 0;
    CK_SESSION_HANDLE session = 0;  // owner of a session object, 0 for token objects
    std::string file;               // token objects: file name in the token's folder
    std::map<CK_ATTRIBUTE_TYPE, Bytes> attrs;

    bool has(CK_ATTRIBUTE_TYPE t) const { return attrs.count(t) != 0; }
    const Bytes* get(CK_ATTRIBUTE_TYPE t) const;
    bool flag(CK_ATTRIBUTE_TYPE t, bool fallback = false) const;
    CK_ULONG ulong(CK_ATTRIBUTE_TYPE t, CK_ULONG fallback = ~CK_ULONG(0)) const;
    void setFlag(CK_ATTRIBUTE_TYPE t, bool v) { attrs[t] = Bytes{static_cast<unsigned char>(v ? 1 : 0)}; }
    void setUlong(CK_ATTRIBUTE_TYPE t, CK_ULONG v);
    bool isToken() const { return flag(CKA_TOKEN); }
    bool isPrivate() const { return flag(CKA_PRIVATE); }
};
using ObjectPtr = std::shared_ptr<Object>;

// What the one active operation of a kind needs between calls.
struct HashOp {
    bool active = false;
    plcsp::Md md;
    unsigned size = 0;
};

struct SignOp {
    bool active = false;
    CK_MECHANISM_TYPE mechanism = 0;
    CK_OBJECT_HANDLE key = 0;
    plcsp::Md md;   // the hash of the ..._WITH_... mechanisms
    Bytes data;     // the raw mechanisms collect their input
};

struct CipherOp {
    bool active = false;
    plcsp::CfbStream stream;
};

struct Session {
    CK_SESSION_HANDLE handle = 0;
    CK_SLOT_ID slot = 0;
    CK_FLAGS flags = 0;
    bool findActive = false;
    std::vector<CK_OBJECT_HANDLE> found;
    std::size_t foundPos = 0;
    HashOp digest;
    SignOp sign;
    SignOp verify;
    CipherOp encrypt;
    CipherOp decrypt;
};

struct Token {
    SlotConfig config;
    bool loaded = false;     // token objects read from the folder
    bool loggedIn = false;   // the user (CKU_USER) or SO is logged in
    CK_USER_TYPE user = CKU_USER;
};

class State {
public:
    static State& instance();  // never destroyed: the module may be finalised at exit

    std::recursive_mutex mutex;
    bool initialized = false;
    std::string moduleFile;   // this module's file, for the slots' module filter
    std::vector<Token> slots;  // only the slots visible through this module
    std::map<CK_SESSION_HANDLE, Session> sessions;
    std::map<CK_OBJECT_HANDLE, ObjectPtr> objects;
    CK_ULONG nextHandle = 1;

    CK_RV initialize();
    void finalize();
    Token* token(CK_SLOT_ID slot);  // a present token, or null
    Session* session(CK_SESSION_HANDLE h);
    // Whether the normal user (not the security officer) is logged in.
    bool userLoggedIn(CK_SLOT_ID slot) const;
    // The object if the session may see it (private ones only after the
    // user's login: the security officer sees none).
    ObjectPtr object(const Session& s, CK_OBJECT_HANDLE h);
    CK_OBJECT_HANDLE add(ObjectPtr obj);  // assigns the handle, saves token objects
    CK_RV save(Object& obj);               // writes a token object's file
    void destroy(CK_OBJECT_HANDLE h);
    void closeSession(CK_SESSION_HANDLE h);
    std::string tokenFolder(CK_SLOT_ID slot) const;

private:
    State() = default;
    void loadTokenObjects(CK_SLOT_ID slot);
};

// Attribute templates.
using Template = std::map<CK_ATTRIBUTE_TYPE, Bytes>;
CK_RV readTemplate(const CK_ATTRIBUTE* t, CK_ULONG n, Template& out);
bool templateFlag(const Template& t, CK_ATTRIBUTE_TYPE type, bool fallback);
bool templateUlong(const Template& t, CK_ATTRIBUTE_TYPE type, CK_ULONG& out);

// Writes data to the new file temp, readable and writable by its owner only
// from its creation, flushed to the disk and closed (every error seen), then
// renames it over target. On failure temp is removed and target left as it
// was. Per system: SoftTokenFiles_posix.cpp, SoftTokenFiles_win.cpp.
bool writeFileReplacing(const std::string& temp, const std::string& target, const Bytes& data);

// Tracing of calls to the standard error stream when PELLAMO_SOFTTOKEN_TRACE
// is set.
void trace(const char* format, ...);

}  // namespace softtoken
