// The software token's general, slot, session, login and object functions,
// and its function list.
#include <algorithm>

#include "tools/soft-token/SoftGost.h"
#include "tools/soft-token/SoftTokenApi.h"

using namespace softtoken;

namespace {

struct MechanismRow {
    CK_MECHANISM_TYPE type;
    CK_ULONG minKey, maxKey;
    CK_FLAGS flags;
};

const MechanismRow kMechanisms[] = {
    {CKM_GOSTR3410_KEY_PAIR_GEN, 256, 256, CKF_HW | CKF_GENERATE_KEY_PAIR},
    {CKM_GOSTR3410_512_KEY_PAIR_GEN, 512, 512, CKF_HW | CKF_GENERATE_KEY_PAIR},
    {CKM_GOSTR3410, 256, 256, CKF_HW | CKF_SIGN | CKF_VERIFY},
    {CKM_GOSTR3410_512, 512, 512, CKF_HW | CKF_SIGN | CKF_VERIFY},
    {CKM_GOSTR3410_WITH_GOSTR3411, 256, 256, CKF_HW | CKF_SIGN | CKF_VERIFY},
    {CKM_GOSTR3410_WITH_GOSTR3411_12_256, 256, 256, CKF_HW | CKF_SIGN | CKF_VERIFY},
    {CKM_GOSTR3410_WITH_GOSTR3411_12_512, 512, 512, CKF_HW | CKF_SIGN | CKF_VERIFY},
    {CKM_GOSTR3410_DERIVE, 256, 256, CKF_HW | CKF_DERIVE},
    {CKM_GOSTR3410_12_DERIVE, 256, 512, CKF_HW | CKF_DERIVE},
    {CKM_GOSTR3411, 0, 0, CKF_HW | CKF_DIGEST},
    {CKM_GOSTR3411_12_256, 0, 0, CKF_HW | CKF_DIGEST},
    {CKM_GOSTR3411_12_512, 0, 0, CKF_HW | CKF_DIGEST},
    {CKM_GOST28147_KEY_GEN, 32, 32, CKF_HW | CKF_GENERATE},
    {CKM_GOST28147, 32, 32, CKF_HW | CKF_ENCRYPT | CKF_DECRYPT},
    {CKM_GOST28147_KEY_WRAP, 32, 32, CKF_HW | CKF_WRAP | CKF_UNWRAP},
};

bool matches(const Object& obj, const Template& t) {
    for (const auto& [type, value] : t) {
        const Bytes* have = obj.get(type);
        if (!have || *have != value) {
            return false;
        }
    }
    return true;
}

// CKA_VALUE of a sensitive or unextractable key is never read out.
bool isSensitive(const Object& obj, CK_ATTRIBUTE_TYPE type) {
    const CK_ULONG cls = obj.ulong(CKA_CLASS);
    if (cls != CKO_PRIVATE_KEY && cls != CKO_SECRET_KEY) {
        return false;
    }
    return type == CKA_VALUE && (obj.flag(CKA_SENSITIVE) || !obj.flag(CKA_EXTRACTABLE, true));
}

}  // namespace

namespace softtoken {

void applyDefaults(Object& obj) {
    const CK_ULONG cls = obj.ulong(CKA_CLASS);
    const bool key = cls == CKO_PRIVATE_KEY || cls == CKO_SECRET_KEY;
    auto def = [&](CK_ATTRIBUTE_TYPE t, bool v) {
        if (!obj.has(t)) {
            obj.setFlag(t, v);
        }
    };
    def(CKA_TOKEN, false);
    def(CKA_PRIVATE, key);
    def(CKA_MODIFIABLE, true);
    if (!obj.has(CKA_LABEL)) {
        obj.attrs[CKA_LABEL] = {};
    }
    if (cls == CKO_CERTIFICATE && !obj.has(CKA_CERTIFICATE_TYPE)) {
        obj.setUlong(CKA_CERTIFICATE_TYPE, CKC_X_509);
    }
    if (cls == CKO_PUBLIC_KEY || key) {
        if (!obj.has(CKA_ID)) {
            obj.attrs[CKA_ID] = {};
        }
        def(CKA_LOCAL, false);
        def(CKA_DERIVE, cls == CKO_PRIVATE_KEY);
    }
    if (cls == CKO_PUBLIC_KEY) {
        def(CKA_VERIFY, true);
        def(CKA_ENCRYPT, false);
        def(CKA_WRAP, false);
    }
    if (key) {
        def(CKA_SENSITIVE, cls == CKO_PRIVATE_KEY);
        def(CKA_EXTRACTABLE, cls == CKO_SECRET_KEY);
        def(CKA_SIGN, cls == CKO_PRIVATE_KEY);
        def(CKA_DECRYPT, cls == CKO_SECRET_KEY);
        def(CKA_UNWRAP, cls == CKO_SECRET_KEY);
        def(CKA_ALWAYS_SENSITIVE, obj.flag(CKA_SENSITIVE));
        def(CKA_NEVER_EXTRACTABLE, !obj.flag(CKA_EXTRACTABLE));
        if (cls == CKO_PRIVATE_KEY) {
            def(CKA_ALWAYS_AUTHENTICATE, false);
        }
    }
    if (cls == CKO_SECRET_KEY) {
        def(CKA_ENCRYPT, true);
        def(CKA_WRAP, true);
        if (!obj.has(CKA_GOST28147_PARAMS)) {
            obj.attrs[CKA_GOST28147_PARAMS] = plcsp::derOid("1.2.643.2.2.31.1");
        }
        if (!obj.has(CKA_VALUE_LEN)) {
            obj.setUlong(CKA_VALUE_LEN, 32);
        }
    }
}

CK_RV storeObject(State& st, Session& sess, ObjectPtr obj, CK_OBJECT_HANDLE_PTR handle) {
    if (!handle) {
        return CKR_ARGUMENTS_BAD;
    }
    applyDefaults(*obj);
    if (obj->isToken() && !(sess.flags & CKF_RW_SESSION)) {
        return CKR_SESSION_READ_ONLY;
    }
    if (obj->isPrivate() && !st.slots[sess.slot].loggedIn) {
        return CKR_USER_NOT_LOGGED_IN;
    }
    obj->slot = sess.slot;
    obj->session = obj->isToken() ? 0 : sess.handle;
    if (obj->isToken()) {
        if (const CK_RV rv = st.save(*obj)) {
            return rv;
        }
    }
    *handle = st.add(std::move(obj));
    return CKR_OK;
}

}  // namespace softtoken

extern "C" {

CK_RV C_Initialize(CK_VOID_PTR pInitArgs) {
    State& st = State::instance();
    std::lock_guard<std::recursive_mutex> lock(st.mutex);
    trace("C_Initialize");
    if (st.initialized) {
        return CKR_CRYPTOKI_ALREADY_INITIALIZED;
    }
    if (pInitArgs && static_cast<CK_C_INITIALIZE_ARGS*>(pInitArgs)->pReserved) {
        return CKR_ARGUMENTS_BAD;
    }
    return st.initialize();
}

CK_RV C_Finalize(CK_VOID_PTR pReserved) {
    SOFT_ENTER("C_Finalize");
    if (pReserved) {
        return CKR_ARGUMENTS_BAD;
    }
    st.finalize();
    return CKR_OK;
}

CK_RV C_GetInfo(CK_INFO_PTR pInfo) {
    SOFT_ENTER("C_GetInfo");
    if (!pInfo) {
        return CKR_ARGUMENTS_BAD;
    }
    *pInfo = CK_INFO{};
    pInfo->cryptokiVersion = {2, 40};
    padCopy(pInfo->manufacturerID, sizeof pInfo->manufacturerID, "Pellamo");
    padCopy(pInfo->libraryDescription, sizeof pInfo->libraryDescription, "Pellamo software GOST token");
    pInfo->libraryVersion = {1, 0};
    return CKR_OK;
}

CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) {
    SOFT_ENTER("C_GetSlotList");
    if (!pulCount) {
        return CKR_ARGUMENTS_BAD;
    }
    std::vector<CK_SLOT_ID> ids;
    for (CK_SLOT_ID i = 0; i < st.slots.size(); ++i) {
        if (!tokenPresent || st.slots[i].config.present) {
            ids.push_back(i);
        }
    }
    if (!pSlotList) {
        *pulCount = ids.size();
        return CKR_OK;
    }
    if (*pulCount < ids.size()) {
        *pulCount = ids.size();
        return CKR_BUFFER_TOO_SMALL;
    }
    std::copy(ids.begin(), ids.end(), pSlotList);
    *pulCount = ids.size();
    return CKR_OK;
}

CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo) {
    SOFT_ENTER("C_GetSlotInfo");
    if (!pInfo) {
        return CKR_ARGUMENTS_BAD;
    }
    if (slotID >= st.slots.size()) {
        return CKR_SLOT_ID_INVALID;
    }
    const SlotConfig& c = st.slots[slotID].config;
    *pInfo = CK_SLOT_INFO{};
    padCopy(pInfo->slotDescription, sizeof pInfo->slotDescription, "Pellamo soft slot " + std::to_string(slotID));
    padCopy(pInfo->manufacturerID, sizeof pInfo->manufacturerID, c.manufacturer);
    pInfo->flags = CKF_REMOVABLE_DEVICE | CKF_HW_SLOT | (c.present ? CKF_TOKEN_PRESENT : 0);
    pInfo->hardwareVersion = {c.version[0], c.version[1]};
    pInfo->firmwareVersion = {c.version[2], c.version[3]};
    return CKR_OK;
}

CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo) {
    SOFT_ENTER("C_GetTokenInfo");
    if (!pInfo) {
        return CKR_ARGUMENTS_BAD;
    }
    if (slotID >= st.slots.size()) {
        return CKR_SLOT_ID_INVALID;
    }
    Token* t = st.token(slotID);
    if (!t) {
        return CKR_TOKEN_NOT_PRESENT;
    }
    const SlotConfig& c = t->config;
    *pInfo = CK_TOKEN_INFO{};
    padCopy(pInfo->label, sizeof pInfo->label, c.label);
    padCopy(pInfo->manufacturerID, sizeof pInfo->manufacturerID, c.manufacturer);
    padCopy(pInfo->model, sizeof pInfo->model, c.model);
    padCopy(pInfo->serialNumber, sizeof pInfo->serialNumber, c.serial);
    pInfo->flags = CKF_RNG | CKF_LOGIN_REQUIRED | CKF_USER_PIN_INITIALIZED | CKF_TOKEN_INITIALIZED;
    CK_ULONG count = 0, rw = 0;
    for (const auto& [h, s] : st.sessions) {
        if (s.slot == slotID) {
            ++count;
            rw += (s.flags & CKF_RW_SESSION) ? 1 : 0;
        }
    }
    pInfo->ulMaxSessionCount = CK_EFFECTIVELY_INFINITE;
    pInfo->ulSessionCount = count;
    pInfo->ulMaxRwSessionCount = CK_EFFECTIVELY_INFINITE;
    pInfo->ulRwSessionCount = rw;
    pInfo->ulMaxPinLen = 32;
    pInfo->ulMinPinLen = 4;
    pInfo->ulTotalPublicMemory = CK_UNAVAILABLE_INFORMATION;
    pInfo->ulFreePublicMemory = CK_UNAVAILABLE_INFORMATION;
    pInfo->ulTotalPrivateMemory = CK_UNAVAILABLE_INFORMATION;
    pInfo->ulFreePrivateMemory = CK_UNAVAILABLE_INFORMATION;
    pInfo->hardwareVersion = {c.version[0], c.version[1]};
    pInfo->firmwareVersion = {c.version[2], c.version[3]};
    padCopy(pInfo->utcTime, sizeof pInfo->utcTime, "");
    return CKR_OK;
}

CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) {
    SOFT_ENTER("C_GetMechanismList");
    if (!pulCount) {
        return CKR_ARGUMENTS_BAD;
    }
    if (slotID >= st.slots.size()) {
        return CKR_SLOT_ID_INVALID;
    }
    const CK_ULONG n = sizeof kMechanisms / sizeof kMechanisms[0];
    if (!pMechanismList) {
        *pulCount = n;
        return CKR_OK;
    }
    if (*pulCount < n) {
        *pulCount = n;
        return CKR_BUFFER_TOO_SMALL;
    }
    for (CK_ULONG i = 0; i < n; ++i) {
        pMechanismList[i] = kMechanisms[i].type;
    }
    *pulCount = n;
    return CKR_OK;
}

CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) {
    SOFT_ENTER("C_GetMechanismInfo");
    if (!pInfo) {
        return CKR_ARGUMENTS_BAD;
    }
    if (slotID >= st.slots.size()) {
        return CKR_SLOT_ID_INVALID;
    }
    for (const auto& m : kMechanisms) {
        if (m.type == type) {
            *pInfo = CK_MECHANISM_INFO{m.minKey, m.maxKey, m.flags};
            return CKR_OK;
        }
    }
    return CKR_MECHANISM_INVALID;
}

CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR phSession) {
    SOFT_ENTER("C_OpenSession");
    if (!phSession) {
        return CKR_ARGUMENTS_BAD;
    }
    if (slotID >= st.slots.size()) {
        return CKR_SLOT_ID_INVALID;
    }
    if (!(flags & CKF_SERIAL_SESSION)) {
        return CKR_SESSION_PARALLEL_NOT_SUPPORTED;
    }
    if (!st.token(slotID)) {
        return CKR_TOKEN_NOT_PRESENT;
    }
    const CK_SESSION_HANDLE h = st.nextHandle++;
    Session& s = st.sessions[h];
    s.handle = h;
    s.slot = slotID;
    s.flags = flags & (CKF_RW_SESSION | CKF_SERIAL_SESSION);
    *phSession = h;
    return CKR_OK;
}

CK_RV C_CloseSession(CK_SESSION_HANDLE hSession) {
    SOFT_ENTER("C_CloseSession");
    if (!st.session(hSession)) {
        return CKR_SESSION_HANDLE_INVALID;
    }
    st.closeSession(hSession);
    return CKR_OK;
}

CK_RV C_CloseAllSessions(CK_SLOT_ID slotID) {
    SOFT_ENTER("C_CloseAllSessions");
    if (slotID >= st.slots.size()) {
        return CKR_SLOT_ID_INVALID;
    }
    std::vector<CK_SESSION_HANDLE> handles;
    for (const auto& [h, s] : st.sessions) {
        if (s.slot == slotID) {
            handles.push_back(h);
        }
    }
    for (CK_SESSION_HANDLE h : handles) {
        st.closeSession(h);
    }
    return CKR_OK;
}

CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) {
    SOFT_ENTER("C_GetSessionInfo");
    SOFT_SESSION(hSession);
    if (!pInfo) {
        return CKR_ARGUMENTS_BAD;
    }
    const Token& t = st.slots[sess.slot];
    const bool rw = (sess.flags & CKF_RW_SESSION) != 0;
    pInfo->slotID = sess.slot;
    if (t.loggedIn && t.user == CKU_SO) {
        pInfo->state = CKS_RW_SO_FUNCTIONS;
    } else if (t.loggedIn) {
        pInfo->state = rw ? CKS_RW_USER_FUNCTIONS : CKS_RO_USER_FUNCTIONS;
    } else {
        pInfo->state = rw ? CKS_RW_PUBLIC_SESSION : CKS_RO_PUBLIC_SESSION;
    }
    pInfo->flags = sess.flags;
    pInfo->ulDeviceError = 0;
    return CKR_OK;
}

CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) {
    SOFT_ENTER("C_Login");
    SOFT_SESSION(hSession);
    if (userType != CKU_USER && userType != CKU_SO) {
        return CKR_USER_TYPE_INVALID;
    }
    Token& t = st.slots[sess.slot];
    if (t.loggedIn) {
        return t.user == userType ? CKR_USER_ALREADY_LOGGED_IN : CKR_USER_ANOTHER_ALREADY_LOGGED_IN;
    }
    if (!pPin && ulPinLen) {
        return CKR_ARGUMENTS_BAD;
    }
    const std::string pin(reinterpret_cast<const char*>(pPin), pPin ? ulPinLen : 0);
    if (pin != (userType == CKU_USER ? t.config.userPin : t.config.soPin)) {
        return CKR_PIN_INCORRECT;
    }
    t.loggedIn = true;
    t.user = userType;
    return CKR_OK;
}

CK_RV C_Logout(CK_SESSION_HANDLE hSession) {
    SOFT_ENTER("C_Logout");
    SOFT_SESSION(hSession);
    Token& t = st.slots[sess.slot];
    if (!t.loggedIn) {
        return CKR_USER_NOT_LOGGED_IN;
    }
    t.loggedIn = false;
    return CKR_OK;
}

CK_RV C_CreateObject(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount,
                     CK_OBJECT_HANDLE_PTR phObject) {
    SOFT_ENTER("C_CreateObject");
    SOFT_SESSION(hSession);
    auto obj = std::make_shared<Object>();
    if (const CK_RV rv = readTemplate(pTemplate, ulCount, obj->attrs)) {
        return rv;
    }
    const CK_ULONG cls = obj->ulong(CKA_CLASS);
    if (cls == ~CK_ULONG(0)) {
        return CKR_TEMPLATE_INCOMPLETE;
    }
    if (cls == CKO_PUBLIC_KEY || cls == CKO_PRIVATE_KEY) {
        const CK_ULONG type = obj->ulong(CKA_KEY_TYPE);
        if (type == CKK_GOSTR3410 || type == CKK_GOSTR3410_512) {
            const Bytes* params = obj->get(CKA_GOSTR3410_PARAMS);
            const Bytes* value = obj->get(CKA_VALUE);
            if (!params || !value) {
                return CKR_TEMPLATE_INCOMPLETE;
            }
            const plcsp::CurveInfo* curve = curveOfParams(*params);
            const unsigned coord = type == CKK_GOSTR3410 ? 32 : 64;
            if (!curve || curve->coordBytes != coord) {
                return CKR_ATTRIBUTE_VALUE_INVALID;
            }
            const std::size_t want = cls == CKO_PUBLIC_KEY ? 2 * coord : coord;
            if (value->size() != want ||
                (cls == CKO_PUBLIC_KEY && !plcsp::ecCheckPublic(*curve, value->data(), value->size()))) {
                return CKR_ATTRIBUTE_VALUE_INVALID;
            }
        }
    } else if (cls == CKO_SECRET_KEY) {
        const Bytes* value = obj->get(CKA_VALUE);
        if (obj->ulong(CKA_KEY_TYPE) == CKK_GOST28147 && (!value || value->size() != 32)) {
            return CKR_ATTRIBUTE_VALUE_INVALID;
        }
    } else if (cls == CKO_CERTIFICATE) {
        if (!obj->has(CKA_VALUE)) {
            return CKR_TEMPLATE_INCOMPLETE;
        }
    } else if (cls != CKO_DATA) {
        return CKR_ATTRIBUTE_VALUE_INVALID;
    }
    return storeObject(st, sess, std::move(obj), phObject);
}

CK_RV C_DestroyObject(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject) {
    SOFT_ENTER("C_DestroyObject");
    SOFT_SESSION(hSession);
    ObjectPtr obj = st.object(sess, hObject);
    if (!obj) {
        return CKR_OBJECT_HANDLE_INVALID;
    }
    if (obj->isToken() && !(sess.flags & CKF_RW_SESSION)) {
        return CKR_SESSION_READ_ONLY;
    }
    st.destroy(hObject);
    return CKR_OK;
}

CK_RV C_GetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                          CK_ULONG ulCount) {
    SOFT_ENTER("C_GetAttributeValue");
    SOFT_SESSION(hSession);
    ObjectPtr obj = st.object(sess, hObject);
    if (!obj) {
        return CKR_OBJECT_HANDLE_INVALID;
    }
    if (ulCount && !pTemplate) {
        return CKR_ARGUMENTS_BAD;
    }
    CK_RV rv = CKR_OK;
    for (CK_ULONG i = 0; i < ulCount; ++i) {
        CK_ATTRIBUTE& a = pTemplate[i];
        const Bytes* v = obj->get(a.type);
        if (!v) {
            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_TYPE_INVALID;
        } else if (isSensitive(*obj, a.type)) {
            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_ATTRIBUTE_SENSITIVE;
        } else if (!a.pValue) {
            a.ulValueLen = v->size();
        } else if (a.ulValueLen < v->size()) {
            a.ulValueLen = CK_UNAVAILABLE_INFORMATION;
            rv = CKR_BUFFER_TOO_SMALL;
        } else {
            if (!v->empty()) {
                std::memcpy(a.pValue, v->data(), v->size());
            }
            a.ulValueLen = v->size();
        }
    }
    return rv;
}

CK_RV C_SetAttributeValue(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE hObject, CK_ATTRIBUTE_PTR pTemplate,
                          CK_ULONG ulCount) {
    SOFT_ENTER("C_SetAttributeValue");
    SOFT_SESSION(hSession);
    ObjectPtr obj = st.object(sess, hObject);
    if (!obj) {
        return CKR_OBJECT_HANDLE_INVALID;
    }
    if (!obj->flag(CKA_MODIFIABLE, true)) {
        return CKR_ATTRIBUTE_READ_ONLY;
    }
    if (obj->isToken() && !(sess.flags & CKF_RW_SESSION)) {
        return CKR_SESSION_READ_ONLY;
    }
    Template t;
    if (const CK_RV rv = readTemplate(pTemplate, ulCount, t)) {
        return rv;
    }
    for (const auto& [type, value] : t) {
        if (type == CKA_CLASS || type == CKA_KEY_TYPE || type == CKA_VALUE || type == CKA_TOKEN ||
            type == CKA_PRIVATE) {
            return CKR_ATTRIBUTE_READ_ONLY;
        }
    }
    for (auto& [type, value] : t) {
        obj->attrs[type] = std::move(value);
    }
    return obj->isToken() ? st.save(*obj) : CKR_OK;
}

CK_RV C_FindObjectsInit(CK_SESSION_HANDLE hSession, CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount) {
    SOFT_ENTER("C_FindObjectsInit");
    SOFT_SESSION(hSession);
    if (sess.findActive) {
        return CKR_OPERATION_ACTIVE;
    }
    Template t;
    if (const CK_RV rv = readTemplate(pTemplate, ulCount, t)) {
        return rv;
    }
    sess.found.clear();
    sess.foundPos = 0;
    for (const auto& [h, obj] : st.objects) {
        if (st.object(sess, h) && matches(*obj, t)) {
            sess.found.push_back(h);
        }
    }
    sess.findActive = true;
    return CKR_OK;
}

CK_RV C_FindObjects(CK_SESSION_HANDLE hSession, CK_OBJECT_HANDLE_PTR phObject, CK_ULONG ulMaxObjectCount,
                    CK_ULONG_PTR pulObjectCount) {
    SOFT_ENTER("C_FindObjects");
    SOFT_SESSION(hSession);
    if (!sess.findActive) {
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    if (!pulObjectCount || (!phObject && ulMaxObjectCount)) {
        return CKR_ARGUMENTS_BAD;
    }
    CK_ULONG n = 0;
    while (n < ulMaxObjectCount && sess.foundPos < sess.found.size()) {
        phObject[n++] = sess.found[sess.foundPos++];
    }
    *pulObjectCount = n;
    return CKR_OK;
}

CK_RV C_FindObjectsFinal(CK_SESSION_HANDLE hSession) {
    SOFT_ENTER("C_FindObjectsFinal");
    SOFT_SESSION(hSession);
    if (!sess.findActive) {
        return CKR_OPERATION_NOT_INITIALIZED;
    }
    sess.findActive = false;
    sess.found.clear();
    return CKR_OK;
}

CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR RandomData, CK_ULONG ulRandomLen) {
    SOFT_ENTER("C_GenerateRandom");
    SOFT_SESSION(hSession);
    (void)sess;
    if (!RandomData && ulRandomLen) {
        return CKR_ARGUMENTS_BAD;
    }
    plcsp::randomBytes(RandomData, ulRandomLen);
    return CKR_OK;
}

}  // extern "C"
