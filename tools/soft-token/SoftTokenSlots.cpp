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

}  // namespace


extern "C" {

CK_RV C_Initialize(CK_VOID_PTR pInitArgs) try {
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
} SOFT_CATCH

CK_RV C_Finalize(CK_VOID_PTR pReserved) try {
    SOFT_ENTER("C_Finalize");
    if (pReserved) {
        return CKR_ARGUMENTS_BAD;
    }
    st.finalize();
    return CKR_OK;
} SOFT_CATCH

CK_RV C_GetInfo(CK_INFO_PTR pInfo) try {
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
} SOFT_CATCH

CK_RV C_GetSlotList(CK_BBOOL tokenPresent, CK_SLOT_ID_PTR pSlotList, CK_ULONG_PTR pulCount) try {
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
} SOFT_CATCH

CK_RV C_GetSlotInfo(CK_SLOT_ID slotID, CK_SLOT_INFO_PTR pInfo) try {
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
} SOFT_CATCH

CK_RV C_GetTokenInfo(CK_SLOT_ID slotID, CK_TOKEN_INFO_PTR pInfo) try {
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
} SOFT_CATCH

CK_RV C_GetMechanismList(CK_SLOT_ID slotID, CK_MECHANISM_TYPE_PTR pMechanismList, CK_ULONG_PTR pulCount) try {
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
} SOFT_CATCH

CK_RV C_GetMechanismInfo(CK_SLOT_ID slotID, CK_MECHANISM_TYPE type, CK_MECHANISM_INFO_PTR pInfo) try {
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
} SOFT_CATCH

CK_RV C_OpenSession(CK_SLOT_ID slotID, CK_FLAGS flags, CK_VOID_PTR, CK_NOTIFY, CK_SESSION_HANDLE_PTR phSession) try {
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
} SOFT_CATCH

CK_RV C_CloseSession(CK_SESSION_HANDLE hSession) try {
    SOFT_ENTER("C_CloseSession");
    if (!st.session(hSession)) {
        return CKR_SESSION_HANDLE_INVALID;
    }
    st.closeSession(hSession);
    return CKR_OK;
} SOFT_CATCH

CK_RV C_CloseAllSessions(CK_SLOT_ID slotID) try {
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
} SOFT_CATCH

CK_RV C_GetSessionInfo(CK_SESSION_HANDLE hSession, CK_SESSION_INFO_PTR pInfo) try {
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
} SOFT_CATCH

CK_RV C_Login(CK_SESSION_HANDLE hSession, CK_USER_TYPE userType, CK_UTF8CHAR_PTR pPin, CK_ULONG ulPinLen) try {
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
} SOFT_CATCH

CK_RV C_Logout(CK_SESSION_HANDLE hSession) try {
    SOFT_ENTER("C_Logout");
    SOFT_SESSION(hSession);
    Token& t = st.slots[sess.slot];
    if (!t.loggedIn) {
        return CKR_USER_NOT_LOGGED_IN;
    }
    t.loggedIn = false;
    return CKR_OK;
} SOFT_CATCH

CK_RV C_GenerateRandom(CK_SESSION_HANDLE hSession, CK_BYTE_PTR RandomData, CK_ULONG ulRandomLen) try {
    SOFT_ENTER("C_GenerateRandom");
    SOFT_SESSION(hSession);
    (void)sess;
    if (!RandomData && ulRandomLen) {
        return CKR_ARGUMENTS_BAD;
    }
    plcsp::randomBytes(RandomData, ulRandomLen);
    return CKR_OK;
} SOFT_CATCH

}  // extern "C"
