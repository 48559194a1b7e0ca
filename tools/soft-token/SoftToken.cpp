// State of the software token: slots, sessions, objects and the files of
// token objects.
//
// A token object is one file in its token's folder, <16 hex digits>.obj:
// "PSTO", u32 attribute count, then per attribute u64 type, u32 length and
// the value bytes (integers little-endian). Files are written to a
// temporary name first (<name>.new, owner-only from its creation, synced to
// the disk) and renamed into place; a temporary file that an interrupted
// write left behind is removed when the token's objects are loaded.
#include "tools/soft-token/SoftToken.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <sstream>

#include "platform/dynlib.h"

namespace fs = std::filesystem;

namespace softtoken {

namespace {

constexpr char kMagic[4] = {'P', 'S', 'T', 'O'};
constexpr std::uint32_t kMaxAttributes = 256;
constexpr std::uint32_t kMaxValue = 1 << 20;
constexpr const char* kTempSuffix = ".new";

void putLe(Bytes& out, std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) {
        out.push_back(static_cast<unsigned char>(v >> (8 * i)));
    }
}

bool getLe(const Bytes& in, std::size_t& pos, int n, std::uint64_t& v) {
    if (in.size() - pos < static_cast<std::size_t>(n) || pos > in.size()) {
        return false;
    }
    v = 0;
    for (int i = 0; i < n; ++i) {
        v |= static_cast<std::uint64_t>(in[pos + i]) << (8 * i);
    }
    pos += n;
    return true;
}

Bytes encodeObject(const Object& obj) {
    Bytes out(kMagic, kMagic + 4);
    putLe(out, obj.attrs.size(), 4);
    for (const auto& [type, value] : obj.attrs) {
        putLe(out, type, 8);
        putLe(out, value.size(), 4);
        out.insert(out.end(), value.begin(), value.end());
    }
    return out;
}

bool decodeObject(const Bytes& in, Object& obj) {
    if (in.size() < 8 || std::memcmp(in.data(), kMagic, 4) != 0) {
        return false;
    }
    std::size_t pos = 4;
    std::uint64_t count = 0;
    if (!getLe(in, pos, 4, count) || count > kMaxAttributes) {
        return false;
    }
    for (std::uint64_t i = 0; i < count; ++i) {
        std::uint64_t type = 0, len = 0;
        if (!getLe(in, pos, 8, type) || !getLe(in, pos, 4, len) || len > kMaxValue || in.size() - pos < len) {
            return false;
        }
        obj.attrs[static_cast<CK_ATTRIBUTE_TYPE>(type)] = Bytes(in.begin() + pos, in.begin() + pos + len);
        pos += len;
    }
    return pos == in.size();
}

std::string randomName() {
    unsigned char r[8];
    plcsp::randomBytes(r, sizeof r);
    char name[32];
    std::snprintf(name, sizeof name, "%02x%02x%02x%02x%02x%02x%02x%02x.obj", r[0], r[1], r[2], r[3], r[4], r[5],
                  r[6], r[7]);
    return name;
}

}  // namespace

const Bytes* Object::get(CK_ATTRIBUTE_TYPE t) const {
    auto it = attrs.find(t);
    return it == attrs.end() ? nullptr : &it->second;
}

bool Object::flag(CK_ATTRIBUTE_TYPE t, bool fallback) const {
    const Bytes* v = get(t);
    return v && v->size() == 1 ? (*v)[0] != 0 : fallback;
}

CK_ULONG Object::ulong(CK_ATTRIBUTE_TYPE t, CK_ULONG fallback) const {
    const Bytes* v = get(t);
    if (!v || v->size() != sizeof(CK_ULONG)) {
        return fallback;
    }
    CK_ULONG out;
    std::memcpy(&out, v->data(), sizeof out);
    return out;
}

void Object::setUlong(CK_ATTRIBUTE_TYPE t, CK_ULONG v) {
    Bytes b(sizeof v);
    std::memcpy(b.data(), &v, sizeof v);
    attrs[t] = std::move(b);
}

namespace {

// The state lives in static storage and is never destroyed: a host may call
// the module from its exit handlers, or from threads still running while
// the process ends. Unloading the module only finalises it, under its lock,
// so a call still running finishes first.
alignas(State) unsigned char g_stateStorage[sizeof(State)];
State* g_state = nullptr;

__attribute__((destructor)) void releaseState() {
    if (g_state == nullptr) {
        return;
    }
    std::lock_guard<std::recursive_mutex> lock(g_state->mutex);
    g_state->finalize();
}

}  // namespace

State& State::instance() {
    static State* state = (g_state = new (g_stateStorage) State());
    return *state;
}

CK_RV State::initialize() {
    std::vector<SlotConfig> configured;
    if (!loadSlotConfig(configured)) {
        return CKR_GENERAL_ERROR;
    }
    plcsp::ensureGcrypt();
    moduleFile = platform::moduleFileOf(reinterpret_cast<const void*>(&State::instance));
    slots.clear();
    for (std::size_t i = 0; i < configured.size(); ++i) {
        if (!slotVisible(configured[i], moduleFile)) {
            continue;
        }
        Token t;
        t.config = configured[i];
        if (t.config.folder.empty()) {
            t.config.folder = "slot" + std::to_string(i);
        }
        slots.push_back(std::move(t));
    }
    sessions.clear();
    objects.clear();
    initialized = true;
    return CKR_OK;
}

void State::finalize() {
    // Swapped out, so that their memory goes too (the state itself stays).
    std::map<CK_SESSION_HANDLE, Session>().swap(sessions);
    std::map<CK_OBJECT_HANDLE, ObjectPtr>().swap(objects);
    std::vector<Token>().swap(slots);
    std::string().swap(moduleFile);
    initialized = false;
}

std::string State::tokenFolder(CK_SLOT_ID slot) const { return tokenDirectory() + "/" + slots[slot].config.folder; }

Token* State::token(CK_SLOT_ID slot) {
    if (slot >= slots.size() || !slots[slot].config.present) {
        return nullptr;
    }
    if (!slots[slot].loaded) {
        slots[slot].loaded = true;
        loadTokenObjects(slot);
    }
    return &slots[slot];
}

void State::loadTokenObjects(CK_SLOT_ID slot) {
    std::error_code ec;
    const fs::path folder = tokenFolder(slot);
    std::vector<fs::path> files;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".obj") {
            files.push_back(it->path());
        } else if (it->path().extension() == kTempSuffix && it->path().stem().extension() == ".obj") {
            // Left by a write that was interrupted: the object file it was
            // to replace (if any) is still whole.
            std::error_code removed;
            fs::remove(it->path(), removed);
        }
    }
    // Sorted, so handles follow the same order in every process.
    std::sort(files.begin(), files.end());
    for (const auto& path : files) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        const std::string s = text.str();
        auto obj = std::make_shared<Object>();
        if (!decodeObject(Bytes(s.begin(), s.end()), *obj)) {
            trace("skipping damaged object file %s", path.string().c_str());
            continue;
        }
        obj->slot = slot;
        obj->file = path.filename().string();
        obj->handle = nextHandle++;
        objects[obj->handle] = obj;
    }
}

CK_RV State::save(Object& obj) {
    if (obj.file.empty()) {
        obj.file = randomName();
    }
    std::error_code ec;
    const fs::path folder = tokenFolder(obj.slot);
    fs::create_directories(folder, ec);
    const fs::path target = folder / obj.file;
    const fs::path temp = folder / (obj.file + kTempSuffix);
    return writeFileReplacing(temp.string(), target.string(), encodeObject(obj)) ? CKR_OK : CKR_DEVICE_ERROR;
}

Session* State::session(CK_SESSION_HANDLE h) {
    auto it = sessions.find(h);
    return it == sessions.end() ? nullptr : &it->second;
}

ObjectPtr State::object(const Session& s, CK_OBJECT_HANDLE h) {
    auto it = objects.find(h);
    if (it == objects.end() || it->second->slot != s.slot) {
        return nullptr;
    }
    const ObjectPtr& obj = it->second;
    if (obj->isPrivate() && !userLoggedIn(s.slot)) {
        return nullptr;
    }
    return obj;
}

CK_OBJECT_HANDLE State::add(ObjectPtr obj) {
    obj->handle = nextHandle++;
    objects[obj->handle] = obj;
    return obj->handle;
}

void State::destroy(CK_OBJECT_HANDLE h) {
    auto it = objects.find(h);
    if (it == objects.end()) {
        return;
    }
    if (it->second->isToken() && !it->second->file.empty()) {
        std::error_code ec;
        fs::remove(fs::path(tokenFolder(it->second->slot)) / it->second->file, ec);
    }
    objects.erase(it);
}

void State::closeSession(CK_SESSION_HANDLE h) {
    auto it = sessions.find(h);
    if (it == sessions.end()) {
        return;
    }
    const CK_SLOT_ID slot = it->second.slot;
    sessions.erase(it);
    for (auto o = objects.begin(); o != objects.end();) {
        o = o->second->session == h ? objects.erase(o) : std::next(o);
    }
    // With the last session of a token its login ends.
    bool any = false;
    for (const auto& [handle, s] : sessions) {
        any = any || s.slot == slot;
    }
    if (!any && slot < slots.size()) {
        slots[slot].loggedIn = false;
    }
}

bool State::userLoggedIn(CK_SLOT_ID slot) const {
    return slot < slots.size() && slots[slot].loggedIn && slots[slot].user == CKU_USER;
}

namespace {

bool isBoolAttribute(CK_ATTRIBUTE_TYPE type) {
    switch (type) {
        case CKA_TOKEN: case CKA_PRIVATE: case CKA_MODIFIABLE: case CKA_COPYABLE: case CKA_DESTROYABLE:
        case CKA_SENSITIVE: case CKA_EXTRACTABLE: case CKA_ALWAYS_SENSITIVE: case CKA_NEVER_EXTRACTABLE:
        case CKA_LOCAL: case CKA_TRUSTED: case CKA_WRAP_WITH_TRUSTED: case CKA_ALWAYS_AUTHENTICATE:
        case CKA_ENCRYPT: case CKA_DECRYPT: case CKA_WRAP: case CKA_UNWRAP: case CKA_SIGN: case CKA_VERIFY:
        case CKA_SIGN_RECOVER: case CKA_VERIFY_RECOVER: case CKA_DERIVE:
            return true;
        default:
            return false;
    }
}

bool isUlongAttribute(CK_ATTRIBUTE_TYPE type) {
    switch (type) {
        case CKA_CLASS: case CKA_KEY_TYPE: case CKA_CERTIFICATE_TYPE: case CKA_CERTIFICATE_CATEGORY:
        case CKA_VALUE_LEN: case CKA_KEY_GEN_MECHANISM: case CKA_MODULUS_BITS:
        case CKA_JAVA_MIDP_SECURITY_DOMAIN:
            return true;
        default:
            return false;
    }
}

}  // namespace

CK_RV readTemplate(const CK_ATTRIBUTE* t, CK_ULONG n, Template& out) {
    if (n && !t) {
        return CKR_ARGUMENTS_BAD;
    }
    for (CK_ULONG i = 0; i < n; ++i) {
        if (t[i].ulValueLen && !t[i].pValue) {
            return CKR_ATTRIBUTE_VALUE_INVALID;
        }
        if (t[i].ulValueLen > kMaxValue) {
            return CKR_ATTRIBUTE_VALUE_INVALID;
        }
        // Values of a fixed type have its size: a CK_BBOOL one byte, a
        // CK_ULONG the platform's.
        if ((isBoolAttribute(t[i].type) && t[i].ulValueLen != sizeof(CK_BBOOL)) ||
            (isUlongAttribute(t[i].type) && t[i].ulValueLen != sizeof(CK_ULONG))) {
            return CKR_ATTRIBUTE_VALUE_INVALID;
        }
        const auto* p = static_cast<const unsigned char*>(t[i].pValue);
        out[t[i].type] = Bytes(p, p + t[i].ulValueLen);
    }
    return CKR_OK;
}

bool templateFlag(const Template& t, CK_ATTRIBUTE_TYPE type, bool fallback) {
    auto it = t.find(type);
    return it != t.end() && it->second.size() == 1 ? it->second[0] != 0 : fallback;
}

bool templateUlong(const Template& t, CK_ATTRIBUTE_TYPE type, CK_ULONG& out) {
    auto it = t.find(type);
    if (it == t.end() || it->second.size() != sizeof(CK_ULONG)) {
        return false;
    }
    std::memcpy(&out, it->second.data(), sizeof out);
    return true;
}

void trace(const char* format, ...) {
    static const bool on = std::getenv("PELLAMO_SOFTTOKEN_TRACE") != nullptr;
    if (!on) {
        return;
    }
    std::va_list args;
    va_start(args, format);
    std::fprintf(stderr, "softtoken: ");
    std::vfprintf(stderr, format, args);
    std::fprintf(stderr, "\n");
    va_end(args);
}

}  // namespace softtoken
