// The software token's PKCS#11 conventions as a client sees them directly:
// size queries, short buffers, login states, object visibility, searches in
// pieces, operation states and persistence.
#include <cstring>

#include "TokenTestSupport.h"

using namespace qn::crypto;
using namespace tokentest;

namespace {

struct Session {
    CK_FUNCTION_LIST_PTR f;
    CK_SESSION_HANDLE h = 0;
    explicit Session(CK_FUNCTION_LIST_PTR list, CK_FLAGS flags = CKF_SERIAL_SESSION | CKF_RW_SESSION) : f(list) {
        EXPECT_EQ(f->C_OpenSession(0, flags, nullptr, nullptr, &h), CKR_OK);
    }
    ~Session() { f->C_CloseSession(h); }
    CK_RV login(const char* pin) {
        return f->C_Login(h, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin)), std::strlen(pin));
    }
    CK_OBJECT_HANDLE dataObject(const std::string& label, bool token, bool priv, CK_RV expected = CKR_OK) {
        CK_OBJECT_CLASS cls = CKO_DATA;
        CK_BBOOL t = token, p = priv;
        CK_ATTRIBUTE a[] = {{CKA_CLASS, &cls, sizeof cls},
                            {CKA_LABEL, const_cast<char*>(label.data()), label.size()},
                            {CKA_TOKEN, &t, 1},
                            {CKA_PRIVATE, &p, 1},
                            {CKA_VALUE, const_cast<char*>("value"), 5}};
        CK_OBJECT_HANDLE o = 0;
        EXPECT_EQ(f->C_CreateObject(h, a, 5, &o), expected);
        return o;
    }
    std::vector<CK_OBJECT_HANDLE> find(CK_ATTRIBUTE* t, CK_ULONG n, CK_ULONG chunk = 3) {
        std::vector<CK_OBJECT_HANDLE> all;
        EXPECT_EQ(f->C_FindObjectsInit(h, t, n), CKR_OK);
        CK_OBJECT_HANDLE buf[8];
        CK_ULONG got = 0;
        do {
            EXPECT_EQ(f->C_FindObjects(h, buf, chunk, &got), CKR_OK);
            all.insert(all.end(), buf, buf + got);
        } while (got == chunk);
        EXPECT_EQ(f->C_FindObjectsFinal(h), CKR_OK);
        return all;
    }
};

const char kRutokenPin[] = "58203716";

}  // namespace

class SoftTokenApiTest : public TokenTest {};

TEST_F(SoftTokenApiTest, SlotListAndTokenInformation) {
    reset("[slot]\nmodule = rutoken\nlabel = one\n[slot]\nmodule = rutoken\ntoken = absent\n"
          "[slot]\nmodule = jacarta\n");
    CK_FUNCTION_LIST_PTR f = functions(P11_DEVICE_RUTOKEN);
    CK_ULONG n = 0;
    ASSERT_EQ(f->C_GetSlotList(CK_FALSE, nullptr, &n), CKR_OK);
    EXPECT_EQ(n, 2u);  // the jacarta slot is not seen through this module
    ASSERT_EQ(f->C_GetSlotList(CK_TRUE, nullptr, &n), CKR_OK);
    EXPECT_EQ(n, 1u);
    CK_SLOT_ID slots[2] = {};
    n = 0;
    EXPECT_EQ(f->C_GetSlotList(CK_FALSE, slots, &n), CKR_BUFFER_TOO_SMALL);
    EXPECT_EQ(n, 2u);
    CK_TOKEN_INFO info;
    EXPECT_EQ(f->C_GetTokenInfo(1, &info), CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(f->C_GetTokenInfo(5, &info), CKR_SLOT_ID_INVALID);
    ASSERT_EQ(f->C_GetTokenInfo(0, &info), CKR_OK);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(info.label), 32), "one" + std::string(29, ' '));
    CK_SESSION_HANDLE h = 0;
    EXPECT_EQ(f->C_OpenSession(1, CKF_SERIAL_SESSION, nullptr, nullptr, &h), CKR_TOKEN_NOT_PRESENT);
    EXPECT_EQ(f->C_OpenSession(0, CKF_RW_SESSION, nullptr, nullptr, &h), CKR_SESSION_PARALLEL_NOT_SUPPORTED);
    EXPECT_EQ(f->C_Initialize(nullptr), CKR_CRYPTOKI_ALREADY_INITIALIZED);
}

TEST_F(SoftTokenApiTest, LoginStatesAndPrivateObjects) {
    CK_FUNCTION_LIST_PTR f = functions(P11_DEVICE_RUTOKEN);
    {
        Session a(f), b(f);
        EXPECT_EQ(a.login("0000"), CKR_PIN_INCORRECT);
        a.dataObject("secret", false, true, CKR_USER_NOT_LOGGED_IN);  // private objects need a login
        ASSERT_EQ(a.login(kRutokenPin), CKR_OK);
        EXPECT_EQ(b.login(kRutokenPin), CKR_USER_ALREADY_LOGGED_IN);  // the login is the token's
        const CK_OBJECT_HANDLE priv = a.dataObject("secret", true, true);
        a.dataObject("open", true, false);
        CK_OBJECT_CLASS cls = CKO_DATA;
        CK_ATTRIBUTE t{CKA_CLASS, &cls, sizeof cls};
        EXPECT_EQ(b.find(&t, 1).size(), 2u);
        ASSERT_EQ(f->C_Logout(a.h), CKR_OK);
        EXPECT_EQ(f->C_Logout(a.h), CKR_USER_NOT_LOGGED_IN);
        EXPECT_EQ(b.find(&t, 1).size(), 1u);
        char buf[16];
        CK_ATTRIBUTE v{CKA_VALUE, buf, sizeof buf};
        EXPECT_EQ(f->C_GetAttributeValue(b.h, priv, &v, 1), CKR_OBJECT_HANDLE_INVALID);
    }
    // Closing the last session ends the login; token objects stay, in a
    // new module instance too.
    reload();
    Session c(f, CKF_SERIAL_SESSION);
    EXPECT_EQ(c.login(kRutokenPin), CKR_OK);
    CK_OBJECT_CLASS cls = CKO_DATA;
    CK_ATTRIBUTE t{CKA_CLASS, &cls, sizeof cls};
    EXPECT_EQ(c.find(&t, 1, 1).size(), 2u);
    // A read-only session creates no token objects.
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE tok[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_TOKEN, &yes, 1}};
    CK_OBJECT_HANDLE o = 0;
    EXPECT_EQ(f->C_CreateObject(c.h, tok, 2, &o), CKR_SESSION_READ_ONLY);
}

TEST_F(SoftTokenApiTest, AttributeQueriesAndSearches) {
    CK_FUNCTION_LIST_PTR f = functions(P11_DEVICE_RUTOKEN);
    Session s(f);
    ASSERT_EQ(s.login(kRutokenPin), CKR_OK);
    std::vector<CK_OBJECT_HANDLE> made;
    for (int i = 0; i < 7; ++i) {
        made.push_back(s.dataObject(i < 5 ? "five" : "two", false, false));
    }
    const std::string five = "five";
    CK_ATTRIBUTE byLabel{CKA_LABEL, const_cast<char*>(five.data()), five.size()};
    EXPECT_EQ(s.find(&byLabel, 1, 2), std::vector<CK_OBJECT_HANDLE>(made.begin(), made.begin() + 5));
    // One search at a time.
    ASSERT_EQ(f->C_FindObjectsInit(s.h, &byLabel, 1), CKR_OK);
    EXPECT_EQ(f->C_FindObjectsInit(s.h, &byLabel, 1), CKR_OPERATION_ACTIVE);
    EXPECT_EQ(f->C_FindObjectsFinal(s.h), CKR_OK);
    EXPECT_EQ(f->C_FindObjectsFinal(s.h), CKR_OPERATION_NOT_INITIALIZED);

    // Size query, short buffer, unknown attribute: every entry answered.
    char label[8];
    CK_ATTRIBUTE q[] = {{CKA_LABEL, nullptr, 0}, {CKA_VALUE, label, 2}, {CKA_MODULUS, label, 8}};
    // Either error may be reported when both apply.
    const CK_RV rv = f->C_GetAttributeValue(s.h, made[0], q, 3);
    EXPECT_TRUE(rv == CKR_BUFFER_TOO_SMALL || rv == CKR_ATTRIBUTE_TYPE_INVALID) << rv;
    EXPECT_EQ(q[0].ulValueLen, 4u);
    EXPECT_EQ(q[1].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    EXPECT_EQ(q[2].ulValueLen, CK_UNAVAILABLE_INFORMATION);
    CK_ATTRIBUTE ok{CKA_LABEL, label, sizeof label};
    ASSERT_EQ(f->C_GetAttributeValue(s.h, made[0], &ok, 1), CKR_OK);
    EXPECT_EQ(std::string(label, ok.ulValueLen), "five");

    // The secret value of a sensitive key is never read.
    unsigned r = 0;
    auto p = create("keys", CP_RUTOKEN_GOST, r);
    ASSERT_EQ(r, 0u);
    unsigned char value[64];
    CK_ATTRIBUTE v{CKA_VALUE, value, sizeof value};
    EXPECT_EQ(f->C_GetAttributeValue(s.h, p->getPrivateKeyHandle(), &v, 1), CKR_ATTRIBUTE_SENSITIVE);
    EXPECT_EQ(v.ulValueLen, CK_UNAVAILABLE_INFORMATION);
    v.ulValueLen = sizeof value;
    EXPECT_EQ(f->C_GetAttributeValue(s.h, p->getPublicKeyHandle(), &v, 1), CKR_OK);
    EXPECT_EQ(v.ulValueLen, 64u);
}

TEST_F(SoftTokenApiTest, OperationStates) {
    CK_FUNCTION_LIST_PTR f = functions(P11_DEVICE_RUTOKEN);
    unsigned r = 0;
    auto p = create("ops", CP_RUTOKEN_GOST2012_256, r);
    ASSERT_EQ(r, 0u);
    Session s(f);
    unsigned char out[128];
    CK_ULONG n = sizeof out;
    EXPECT_EQ(f->C_Digest(s.h, out, 1, out, &n), CKR_OPERATION_NOT_INITIALIZED);
    EXPECT_EQ(f->C_Sign(s.h, out, 1, out, &n), CKR_OPERATION_NOT_INITIALIZED);
    CK_MECHANISM digest{CKM_GOSTR3411_12_256, nullptr, 0};
    ASSERT_EQ(f->C_DigestInit(s.h, &digest), CKR_OK);
    EXPECT_EQ(f->C_DigestInit(s.h, &digest), CKR_OPERATION_ACTIVE);
    // Size query and short buffer keep the operation; the data is hashed once.
    n = 0;
    ASSERT_EQ(f->C_Digest(s.h, out, 3, nullptr, &n), CKR_OK);
    EXPECT_EQ(n, 32u);
    n = 4;
    EXPECT_EQ(f->C_Digest(s.h, out, 3, out, &n), CKR_BUFFER_TOO_SMALL);
    n = sizeof out;
    ASSERT_EQ(f->C_Digest(s.h, reinterpret_cast<CK_BYTE_PTR>(const_cast<char*>("abc")), 3, out, &n), CKR_OK);
    const std::vector<unsigned char> once(out, out + 32);
    ASSERT_EQ(f->C_DigestInit(s.h, &digest), CKR_OK);
    ASSERT_EQ(f->C_DigestUpdate(s.h, reinterpret_cast<CK_BYTE_PTR>(const_cast<char*>("ab")), 2), CKR_OK);
    ASSERT_EQ(f->C_DigestUpdate(s.h, reinterpret_cast<CK_BYTE_PTR>(const_cast<char*>("c")), 1), CKR_OK);
    n = sizeof out;
    ASSERT_EQ(f->C_DigestFinal(s.h, out, &n), CKR_OK);
    EXPECT_EQ(std::vector<unsigned char>(out, out + 32), once);

    // The raw mechanism signs a whole digest only; a wrong key type is refused.
    CK_MECHANISM raw{CKM_GOSTR3410, nullptr, 0};
    ASSERT_EQ(f->C_SignInit(s.h, &raw, p->getPrivateKeyHandle()), CKR_OK);
    n = sizeof out;
    EXPECT_EQ(f->C_Sign(s.h, out, 31, out, &n), CKR_DATA_LEN_RANGE);
    CK_MECHANISM wide{CKM_GOSTR3410_WITH_GOSTR3411_12_512, nullptr, 0};
    EXPECT_EQ(f->C_SignInit(s.h, &wide, p->getPrivateKeyHandle()), CKR_KEY_TYPE_INCONSISTENT);
    EXPECT_EQ(f->C_SignInit(s.h, &raw, p->getPublicKeyHandle()), CKR_KEY_TYPE_INCONSISTENT);
    // Unsupported functions say so.
    EXPECT_EQ(f->C_InitToken(0, nullptr, 0, nullptr), CKR_FUNCTION_NOT_SUPPORTED);
    EXPECT_EQ(f->C_CopyObject(s.h, 1, nullptr, 0, nullptr), CKR_ARGUMENTS_BAD);
}

TEST_F(SoftTokenApiTest, SignAndVerifyWholeOrInPieces) {
    CK_FUNCTION_LIST_PTR f = functions(P11_DEVICE_RUTOKEN);
    unsigned r = 0;
    auto p = create("pieces", CP_RUTOKEN_GOST2012_256, r);
    ASSERT_EQ(r, 0u);
    Session s(f);
    unsigned char data[] = "abc";
    unsigned char sig[128];
    CK_ULONG n = 0;
    CK_MECHANISM mech{CKM_GOSTR3410_WITH_GOSTR3411_12_256, nullptr, 0};
    // One call after a size query: the query must not feed the data.
    ASSERT_EQ(f->C_SignInit(s.h, &mech, p->getPrivateKeyHandle()), CKR_OK);
    ASSERT_EQ(f->C_Sign(s.h, data, 3, nullptr, &n), CKR_OK);
    ASSERT_EQ(n, 64u);
    ASSERT_EQ(f->C_Sign(s.h, data, 3, sig, &n), CKR_OK);
    ASSERT_EQ(f->C_VerifyInit(s.h, &mech, p->getPublicKeyHandle()), CKR_OK);
    ASSERT_EQ(f->C_VerifyUpdate(s.h, data, 1), CKR_OK);
    ASSERT_EQ(f->C_VerifyUpdate(s.h, data + 1, 2), CKR_OK);
    EXPECT_EQ(f->C_VerifyFinal(s.h, sig, n), CKR_OK);
    EXPECT_EQ(f->C_VerifyFinal(s.h, sig, n), CKR_OPERATION_NOT_INITIALIZED);

    // In pieces, verified in one call; a changed signature fails and ends it.
    ASSERT_EQ(f->C_SignInit(s.h, &mech, p->getPrivateKeyHandle()), CKR_OK);
    ASSERT_EQ(f->C_SignUpdate(s.h, data, 2), CKR_OK);
    ASSERT_EQ(f->C_SignUpdate(s.h, data + 2, 1), CKR_OK);
    n = 0;
    ASSERT_EQ(f->C_SignFinal(s.h, nullptr, &n), CKR_OK);
    ASSERT_EQ(f->C_SignFinal(s.h, sig, &n), CKR_OK);
    ASSERT_EQ(f->C_VerifyInit(s.h, &mech, p->getPublicKeyHandle()), CKR_OK);
    EXPECT_EQ(f->C_Verify(s.h, data, 3, sig, n), CKR_OK);
    sig[0] ^= 1;
    ASSERT_EQ(f->C_VerifyInit(s.h, &mech, p->getPublicKeyHandle()), CKR_OK);
    EXPECT_EQ(f->C_Verify(s.h, data, 3, sig, n), CKR_SIGNATURE_INVALID);
    ASSERT_EQ(f->C_VerifyInit(s.h, &mech, p->getPublicKeyHandle()), CKR_OK);
    EXPECT_EQ(f->C_Verify(s.h, data, 3, sig, n - 1), CKR_SIGNATURE_LEN_RANGE);

    // Unreadable input ends the operation.
    ASSERT_EQ(f->C_SignInit(s.h, &mech, p->getPrivateKeyHandle()), CKR_OK);
    EXPECT_EQ(f->C_SignUpdate(s.h, nullptr, 1), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(f->C_SignFinal(s.h, sig, &n), CKR_OPERATION_NOT_INITIALIZED);
    ASSERT_EQ(f->C_VerifyInit(s.h, &mech, p->getPublicKeyHandle()), CKR_OK);
    EXPECT_EQ(f->C_Verify(s.h, nullptr, 1, sig, n), CKR_ARGUMENTS_BAD);
    EXPECT_EQ(f->C_VerifyFinal(s.h, sig, n), CKR_OPERATION_NOT_INITIALIZED);
}
