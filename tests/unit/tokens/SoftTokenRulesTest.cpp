// The software token's protection rules: key attributes that only tighten,
// value sizes, what the security officer sees, how object files are written
// and cleaned up, and calls racing C_Finalize.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "TokenTestSupport.h"

using namespace qn::crypto;
using namespace tokentest;
namespace fs = std::filesystem;

namespace {

const char kUserPin[] = "58203716";
const char kSoPin[] = "87654321";

struct Rutoken {
    CK_FUNCTION_LIST_PTR f = functions(P11_DEVICE_RUTOKEN);
    CK_SESSION_HANDLE h = 0;
    Rutoken() { EXPECT_EQ(f->C_OpenSession(0, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &h), CKR_OK); }
    ~Rutoken() { f->C_CloseSession(h); }
    CK_RV login(CK_USER_TYPE who, const char* pin) {
        return f->C_Login(h, who, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin)), std::strlen(pin));
    }
    // A GOST 28147 key, as open as the template makes it.
    CK_OBJECT_HANDLE secretKey(CK_BBOOL sensitive, CK_BBOOL extractable, CK_BBOOL token = CK_FALSE) {
        CK_OBJECT_CLASS cls = CKO_SECRET_KEY;
        CK_KEY_TYPE type = CKK_GOST28147;
        unsigned char value[32] = {1, 2, 3};
        CK_ATTRIBUTE t[] = {{CKA_CLASS, &cls, sizeof cls},         {CKA_KEY_TYPE, &type, sizeof type},
                            {CKA_VALUE, value, sizeof value},      {CKA_SENSITIVE, &sensitive, 1},
                            {CKA_EXTRACTABLE, &extractable, 1},    {CKA_TOKEN, &token, 1}};
        CK_OBJECT_HANDLE o = 0;
        EXPECT_EQ(f->C_CreateObject(h, t, 6, &o), CKR_OK);
        return o;
    }
    CK_RV setFlag(CK_OBJECT_HANDLE o, CK_ATTRIBUTE_TYPE type, CK_BBOOL v) {
        CK_ATTRIBUTE a{type, &v, 1};
        return f->C_SetAttributeValue(h, o, &a, 1);
    }
    CK_RV copyWith(CK_OBJECT_HANDLE o, CK_ATTRIBUTE_TYPE type, CK_BBOOL v, CK_OBJECT_HANDLE* copy) {
        CK_ATTRIBUTE a{type, &v, 1};
        return f->C_CopyObject(h, o, &a, 1, copy);
    }
    bool flag(CK_OBJECT_HANDLE o, CK_ATTRIBUTE_TYPE type) {
        CK_BBOOL v = 2;
        CK_ATTRIBUTE a{type, &v, 1};
        EXPECT_EQ(f->C_GetAttributeValue(h, o, &a, 1), CKR_OK);
        return v == CK_TRUE;
    }
    std::vector<CK_OBJECT_HANDLE> all() {
        std::vector<CK_OBJECT_HANDLE> out;
        EXPECT_EQ(f->C_FindObjectsInit(h, nullptr, 0), CKR_OK);
        CK_OBJECT_HANDLE buf[64];
        CK_ULONG n = 0;
        EXPECT_EQ(f->C_FindObjects(h, buf, 64, &n), CKR_OK);
        EXPECT_EQ(f->C_FindObjectsFinal(h), CKR_OK);
        return std::vector<CK_OBJECT_HANDLE>(buf, buf + n);
    }
};

fs::path rutokenFolder() { return fs::path(folder()) / "tokens" / "rutoken"; }

std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path());
    return out;
}

}  // namespace

class SoftTokenRulesTest : public TokenTest {};

TEST_F(SoftTokenRulesTest, SensitiveAndExtractableOnlyTighten) {
    Rutoken t;
    ASSERT_EQ(t.login(CKU_USER, kUserPin), CKR_OK);
    const CK_OBJECT_HANDLE key = t.secretKey(CK_FALSE, CK_TRUE);
    // Loosening what is already loose and tightening pass.
    EXPECT_EQ(t.setFlag(key, CKA_SENSITIVE, CK_FALSE), CKR_OK);
    EXPECT_EQ(t.setFlag(key, CKA_EXTRACTABLE, CK_TRUE), CKR_OK);
    EXPECT_EQ(t.setFlag(key, CKA_SENSITIVE, CK_TRUE), CKR_OK);
    EXPECT_EQ(t.setFlag(key, CKA_EXTRACTABLE, CK_FALSE), CKR_OK);
    // Never back.
    EXPECT_EQ(t.setFlag(key, CKA_SENSITIVE, CK_FALSE), CKR_ATTRIBUTE_READ_ONLY);
    EXPECT_EQ(t.setFlag(key, CKA_EXTRACTABLE, CK_TRUE), CKR_ATTRIBUTE_READ_ONLY);
    EXPECT_TRUE(t.flag(key, CKA_SENSITIVE));
    EXPECT_FALSE(t.flag(key, CKA_EXTRACTABLE));
    // A refused template changes nothing of it, not even its allowed part.
    const std::string label = "changed";
    CK_BBOOL no = CK_FALSE;
    CK_ATTRIBUTE mixed[] = {{CKA_LABEL, const_cast<char*>(label.data()), label.size()}, {CKA_SENSITIVE, &no, 1}};
    EXPECT_EQ(t.f->C_SetAttributeValue(t.h, key, mixed, 2), CKR_ATTRIBUTE_READ_ONLY);
    char got[16];
    CK_ATTRIBUTE read{CKA_LABEL, got, sizeof got};
    ASSERT_EQ(t.f->C_GetAttributeValue(t.h, key, &read, 1), CKR_OK);
    EXPECT_EQ(read.ulValueLen, 0u);

    // A copy follows the same rules; what passes makes a new object.
    CK_OBJECT_HANDLE copy = 0;
    EXPECT_EQ(t.copyWith(key, CKA_SENSITIVE, CK_FALSE, &copy), CKR_ATTRIBUTE_READ_ONLY);
    EXPECT_EQ(t.copyWith(key, CKA_EXTRACTABLE, CK_TRUE, &copy), CKR_ATTRIBUTE_READ_ONLY);
    unsigned char other[32] = {};
    CK_ATTRIBUTE value{CKA_VALUE, other, sizeof other};
    EXPECT_EQ(t.f->C_CopyObject(t.h, key, &value, 1, &copy), CKR_ATTRIBUTE_READ_ONLY);
    EXPECT_EQ(copy, 0u);
    const CK_OBJECT_HANDLE open = t.secretKey(CK_FALSE, CK_TRUE);
    ASSERT_EQ(t.copyWith(open, CKA_SENSITIVE, CK_TRUE, &copy), CKR_OK);
    EXPECT_NE(copy, open);
    EXPECT_TRUE(t.flag(copy, CKA_SENSITIVE));
    EXPECT_FALSE(t.flag(open, CKA_SENSITIVE));
    unsigned char secret[32];
    CK_ATTRIBUTE readValue{CKA_VALUE, secret, sizeof secret};
    EXPECT_EQ(t.f->C_GetAttributeValue(t.h, copy, &readValue, 1), CKR_ATTRIBUTE_SENSITIVE);
    // A copy onto the token is kept in its own file.
    CK_OBJECT_HANDLE onToken = 0;
    ASSERT_EQ(t.copyWith(open, CKA_TOKEN, CK_TRUE, &onToken), CKR_OK);
    EXPECT_EQ(filesIn(rutokenFolder()).size(), 1u);
    EXPECT_EQ(t.setFlag(onToken, CKA_TOKEN, CK_FALSE), CKR_ATTRIBUTE_READ_ONLY);
    // Not copyable: refused.
    ASSERT_EQ(t.setFlag(open, CKA_COPYABLE, CK_FALSE), CKR_OK);
    EXPECT_EQ(t.copyWith(open, CKA_LABEL, CK_FALSE, &copy), CKR_ACTION_PROHIBITED);
    EXPECT_EQ(t.setFlag(open, CKA_COPYABLE, CK_TRUE), CKR_ATTRIBUTE_READ_ONLY);
}

TEST_F(SoftTokenRulesTest, ValueSizesOfFlagsAndNumbers) {
    Rutoken t;
    ASSERT_EQ(t.login(CKU_USER, kUserPin), CKR_OK);
    const CK_OBJECT_HANDLE key = t.secretKey(CK_FALSE, CK_TRUE);
    CK_ULONG wide = CK_TRUE;
    CK_ATTRIBUTE wideFlag{CKA_SENSITIVE, &wide, sizeof wide};
    EXPECT_EQ(t.f->C_SetAttributeValue(t.h, key, &wideFlag, 1), CKR_ATTRIBUTE_VALUE_INVALID);
    EXPECT_FALSE(t.flag(key, CKA_SENSITIVE));
    CK_BBOOL empty = CK_TRUE;
    CK_ATTRIBUTE emptyFlag{CKA_EXTRACTABLE, &empty, 0};
    EXPECT_EQ(t.f->C_SetAttributeValue(t.h, key, &emptyFlag, 1), CKR_ATTRIBUTE_VALUE_INVALID);

    std::uint32_t narrow = CKO_DATA;
    CK_ATTRIBUTE narrowClass{CKA_CLASS, &narrow, sizeof narrow};
    CK_OBJECT_HANDLE o = 0;
    EXPECT_EQ(t.f->C_CreateObject(t.h, &narrowClass, 1, &o), CKR_ATTRIBUTE_VALUE_INVALID);
    CK_ULONG len = 32;
    CK_ATTRIBUTE shortLen{CKA_VALUE_LEN, &len, sizeof len - 1};
    EXPECT_EQ(t.f->C_FindObjectsInit(t.h, &shortLen, 1), CKR_ATTRIBUTE_VALUE_INVALID);
    CK_ATTRIBUTE rightLen{CKA_VALUE_LEN, &len, sizeof len};
    ASSERT_EQ(t.f->C_FindObjectsInit(t.h, &rightLen, 1), CKR_OK);
    EXPECT_EQ(t.f->C_FindObjectsFinal(t.h), CKR_OK);
}

TEST_F(SoftTokenRulesTest, SecurityOfficerSeesNoPrivateObjects) {
    CK_OBJECT_HANDLE privateKey = 0;
    {
        Rutoken user;
        ASSERT_EQ(user.login(CKU_USER, kUserPin), CKR_OK);
        privateKey = user.secretKey(CK_TRUE, CK_FALSE, CK_TRUE);
        CK_OBJECT_CLASS cls = CKO_DATA;
        CK_BBOOL yes = CK_TRUE, no = CK_FALSE;
        CK_ATTRIBUTE open[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_TOKEN, &yes, 1}, {CKA_PRIVATE, &no, 1}};
        CK_OBJECT_HANDLE o = 0;
        ASSERT_EQ(user.f->C_CreateObject(user.h, open, 3, &o), CKR_OK);
        EXPECT_EQ(user.all().size(), 2u);
    }
    Rutoken so;
    ASSERT_EQ(so.login(CKU_SO, kSoPin), CKR_OK);
    EXPECT_EQ(so.all().size(), 1u);
    CK_BBOOL v = 0;
    CK_ATTRIBUTE a{CKA_SENSITIVE, &v, 1};
    EXPECT_EQ(so.f->C_GetAttributeValue(so.h, privateKey, &a, 1), CKR_OBJECT_HANDLE_INVALID);
    EXPECT_EQ(so.f->C_DestroyObject(so.h, privateKey), CKR_OBJECT_HANDLE_INVALID);
    // Nor does it make private objects.
    CK_OBJECT_CLASS cls = CKO_DATA;
    CK_BBOOL yes = CK_TRUE;
    CK_ATTRIBUTE priv[] = {{CKA_CLASS, &cls, sizeof cls}, {CKA_PRIVATE, &yes, 1}};
    CK_OBJECT_HANDLE o = 0;
    EXPECT_EQ(so.f->C_CreateObject(so.h, priv, 2, &o), CKR_USER_NOT_LOGGED_IN);
    ASSERT_EQ(so.f->C_Logout(so.h), CKR_OK);
    ASSERT_EQ(so.login(CKU_USER, kUserPin), CKR_OK);
    EXPECT_EQ(so.all().size(), 2u);
}

TEST_F(SoftTokenRulesTest, ObjectFilesAreOwnerOnlyAndLeftoversGo) {
    // Whatever the process's mask lets through, the file is its owner's.
    const mode_t mask = umask(0);
    CK_OBJECT_HANDLE key = 0;
    {
        Rutoken t;
        ASSERT_EQ(t.login(CKU_USER, kUserPin), CKR_OK);
        key = t.secretKey(CK_FALSE, CK_TRUE, CK_TRUE);
        ASSERT_NE(key, 0u);
    }
    umask(mask);
    std::vector<fs::path> files = filesIn(rutokenFolder());
    ASSERT_EQ(files.size(), 1u);
    const fs::path object = files[0];
    EXPECT_EQ(fs::status(object).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

    // Leftovers of interrupted writes: a temporary beside the object (readable
    // by all) and one of an object that never came to be.
    const fs::path staleTemp = object.string() + ".new";
    std::ofstream(staleTemp) << "half";
    fs::permissions(staleTemp, fs::perms::all);
    std::ofstream(rutokenFolder() / "0123456789abcdef.obj.new") << "half";
    std::ofstream(rutokenFolder() / "notes.txt") << "not ours";
    reload();
    Rutoken t;
    ASSERT_EQ(t.login(CKU_USER, kUserPin), CKR_OK);
    EXPECT_EQ(t.all().size(), 1u);
    EXPECT_FALSE(fs::exists(staleTemp));
    EXPECT_FALSE(fs::exists(rutokenFolder() / "0123456789abcdef.obj.new"));
    EXPECT_TRUE(fs::exists(rutokenFolder() / "notes.txt"));

    // A later write of the object leaves it owner-only too, with no temporary.
    const CK_OBJECT_HANDLE again = t.all().front();
    ASSERT_EQ(t.setFlag(again, CKA_SENSITIVE, CK_TRUE), CKR_OK);
    EXPECT_EQ(fs::status(object).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(fs::exists(staleTemp));
    // A write that cannot be made fails and leaves the object as it was.
    fs::permissions(rutokenFolder(), fs::perms::owner_read | fs::perms::owner_exec);
    const bool canStillWrite = ::access(rutokenFolder().c_str(), W_OK) == 0;  // root ignores the mode
    if (!canStillWrite) {
        EXPECT_EQ(t.setFlag(again, CKA_EXTRACTABLE, CK_FALSE), CKR_DEVICE_ERROR);
        EXPECT_TRUE(t.flag(again, CKA_EXTRACTABLE));
    }
    fs::permissions(rutokenFolder(), fs::perms::owner_all);
}

// Calls from several threads while another finalises and initialises the
// module over and over: each call either runs on whole state or is told the
// module is not initialised (or its session is gone); none crashes.
TEST_F(SoftTokenRulesTest, CallsRacingFinalizeSeeWholeState) {
    CK_FUNCTION_LIST_PTR f = functions(P11_DEVICE_RUTOKEN);
    std::atomic<bool> stop{false};
    std::atomic<int> unexpected{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 3; ++i) {
        callers.emplace_back([&] {
            while (!stop.load()) {
                CK_SESSION_HANDLE h = 0;
                CK_RV rv = f->C_OpenSession(0, CKF_SERIAL_SESSION, nullptr, nullptr, &h);
                if (rv != CKR_OK) {
                    if (rv != CKR_CRYPTOKI_NOT_INITIALIZED) ++unexpected;
                    continue;
                }
                CK_OBJECT_HANDLE found[4];
                CK_ULONG n = 0;
                for (CK_RV step : {f->C_FindObjectsInit(h, nullptr, 0), f->C_FindObjects(h, found, 4, &n),
                                   f->C_FindObjectsFinal(h), f->C_CloseSession(h)}) {
                    if (step != CKR_OK && step != CKR_CRYPTOKI_NOT_INITIALIZED &&
                        step != CKR_SESSION_HANDLE_INVALID && step != CKR_OPERATION_NOT_INITIALIZED &&
                        step != CKR_OPERATION_ACTIVE)
                        ++unexpected;
                }
            }
        });
    }
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    for (int round = 0; round < 200; ++round) {
        EXPECT_EQ(f->C_Finalize(nullptr), CKR_OK);
        EXPECT_EQ(f->C_Initialize(&args), CKR_OK);
    }
    stop = true;
    for (std::thread& t : callers) t.join();
    EXPECT_EQ(unexpected.load(), 0);
}
