// The function list of the software token. Functions outside what the
// program and the test clients use answer CKR_FUNCTION_NOT_SUPPORTED.
#include "tools/soft-token/SoftTokenApi.h"

extern "C" {

CK_RV C_InitToken(CK_SLOT_ID, CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR) { return CKR_FUNCTION_NOT_SUPPORTED; }
CK_RV C_InitPIN(CK_SESSION_HANDLE, CK_UTF8CHAR_PTR, CK_ULONG) { return CKR_FUNCTION_NOT_SUPPORTED; }
CK_RV C_SetPIN(CK_SESSION_HANDLE, CK_UTF8CHAR_PTR, CK_ULONG, CK_UTF8CHAR_PTR, CK_ULONG) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV C_GetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG_PTR) { return CKR_FUNCTION_NOT_SUPPORTED; }
CK_RV C_SetOperationState(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_OBJECT_HANDLE, CK_OBJECT_HANDLE) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV C_GetObjectSize(CK_SESSION_HANDLE, CK_OBJECT_HANDLE, CK_ULONG_PTR) { return CKR_FUNCTION_NOT_SUPPORTED; }
CK_RV C_DigestKey(CK_SESSION_HANDLE, CK_OBJECT_HANDLE) { return CKR_FUNCTION_NOT_SUPPORTED; }
CK_RV C_SignRecoverInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) { return CKR_FUNCTION_NOT_SUPPORTED; }
CK_RV C_SignRecover(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV C_VerifyRecoverInit(CK_SESSION_HANDLE, CK_MECHANISM_PTR, CK_OBJECT_HANDLE) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV C_VerifyRecover(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV C_DigestEncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV C_DecryptDigestUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV C_SignEncryptUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV C_DecryptVerifyUpdate(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG, CK_BYTE_PTR, CK_ULONG_PTR) {
    return CKR_FUNCTION_NOT_SUPPORTED;
}
CK_RV C_SeedRandom(CK_SESSION_HANDLE, CK_BYTE_PTR, CK_ULONG) { return CKR_FUNCTION_NOT_SUPPORTED; }
CK_RV C_GetFunctionStatus(CK_SESSION_HANDLE) { return CKR_FUNCTION_NOT_PARALLEL; }
CK_RV C_CancelFunction(CK_SESSION_HANDLE) { return CKR_FUNCTION_NOT_PARALLEL; }
CK_RV C_WaitForSlotEvent(CK_FLAGS, CK_SLOT_ID_PTR, CK_VOID_PTR) { return CKR_FUNCTION_NOT_SUPPORTED; }

CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR ppFunctionList) try {
    static CK_FUNCTION_LIST list = [] {
        CK_FUNCTION_LIST l{};
        l.version = {2, 40};
#define SOFT_FN(name) l.name = name
        SOFT_FN(C_Initialize);
        SOFT_FN(C_Finalize);
        SOFT_FN(C_GetInfo);
        SOFT_FN(C_GetFunctionList);
        SOFT_FN(C_GetSlotList);
        SOFT_FN(C_GetSlotInfo);
        SOFT_FN(C_GetTokenInfo);
        SOFT_FN(C_GetMechanismList);
        SOFT_FN(C_GetMechanismInfo);
        SOFT_FN(C_InitToken);
        SOFT_FN(C_InitPIN);
        SOFT_FN(C_SetPIN);
        SOFT_FN(C_OpenSession);
        SOFT_FN(C_CloseSession);
        SOFT_FN(C_CloseAllSessions);
        SOFT_FN(C_GetSessionInfo);
        SOFT_FN(C_GetOperationState);
        SOFT_FN(C_SetOperationState);
        SOFT_FN(C_Login);
        SOFT_FN(C_Logout);
        SOFT_FN(C_CreateObject);
        SOFT_FN(C_CopyObject);
        SOFT_FN(C_DestroyObject);
        SOFT_FN(C_GetObjectSize);
        SOFT_FN(C_GetAttributeValue);
        SOFT_FN(C_SetAttributeValue);
        SOFT_FN(C_FindObjectsInit);
        SOFT_FN(C_FindObjects);
        SOFT_FN(C_FindObjectsFinal);
        SOFT_FN(C_EncryptInit);
        SOFT_FN(C_Encrypt);
        SOFT_FN(C_EncryptUpdate);
        SOFT_FN(C_EncryptFinal);
        SOFT_FN(C_DecryptInit);
        SOFT_FN(C_Decrypt);
        SOFT_FN(C_DecryptUpdate);
        SOFT_FN(C_DecryptFinal);
        SOFT_FN(C_DigestInit);
        SOFT_FN(C_Digest);
        SOFT_FN(C_DigestUpdate);
        SOFT_FN(C_DigestKey);
        SOFT_FN(C_DigestFinal);
        SOFT_FN(C_SignInit);
        SOFT_FN(C_Sign);
        SOFT_FN(C_SignUpdate);
        SOFT_FN(C_SignFinal);
        SOFT_FN(C_SignRecoverInit);
        SOFT_FN(C_SignRecover);
        SOFT_FN(C_VerifyInit);
        SOFT_FN(C_Verify);
        SOFT_FN(C_VerifyUpdate);
        SOFT_FN(C_VerifyFinal);
        SOFT_FN(C_VerifyRecoverInit);
        SOFT_FN(C_VerifyRecover);
        SOFT_FN(C_DigestEncryptUpdate);
        SOFT_FN(C_DecryptDigestUpdate);
        SOFT_FN(C_SignEncryptUpdate);
        SOFT_FN(C_DecryptVerifyUpdate);
        SOFT_FN(C_GenerateKey);
        SOFT_FN(C_GenerateKeyPair);
        SOFT_FN(C_WrapKey);
        SOFT_FN(C_UnwrapKey);
        SOFT_FN(C_DeriveKey);
        SOFT_FN(C_SeedRandom);
        SOFT_FN(C_GenerateRandom);
        SOFT_FN(C_GetFunctionStatus);
        SOFT_FN(C_CancelFunction);
        SOFT_FN(C_WaitForSlotEvent);
#undef SOFT_FN
        return l;
    }();
    if (!ppFunctionList) {
        return CKR_ARGUMENTS_BAD;
    }
    *ppFunctionList = &list;
    return CKR_OK;
} SOFT_CATCH

}  // extern "C"
