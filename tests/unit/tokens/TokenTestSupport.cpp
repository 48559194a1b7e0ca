#include "TokenTestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace qn::crypto;

namespace tokentest {

const char* const kDefaultConfig = R"([slot]
label = Test JaCarta
manufacturer = Pellamo Tests
model = JaCarta GOST 2.0
serial = 00000000000000J1
pin = 4719360825
wrapped-key = 44
module = jacarta
folder = jacarta
version = 2.1.3.4
[slot]
label = Test Rutoken
model = Rutoken ECP
serial = 00000000000000R1
pin = 58203716
wrapped-key = 36
module = rutoken
folder = rutoken
)";

namespace {

// Sets the environment before any module is loaded and removes the folder
// at the end.
class Environment : public ::testing::Environment {
public:
    void SetUp() override {
        char tmpl[] = "/tmp/pellamo-tokens-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        char cspTmpl[] = "/tmp/pellamo-tokens-csp-XXXXXX";
        ASSERT_NE(mkdtemp(cspTmpl), nullptr);
        cspDir = cspTmpl;
        for (const char* name : {"jacarta", "rutoken"}) {
            const fs::path copy = fs::path(dir) / (std::string(name) + "-softtoken.so");
            fs::copy_file(SOFT_TOKEN_MODULE, copy, fs::copy_options::overwrite_existing);
        }
        setenv("PELLAMO_PKCS11_JACARTA", (dir + "/jacarta-softtoken.so").c_str(), 1);
        setenv("PELLAMO_PKCS11_RUTOKEN", (dir + "/rutoken-softtoken.so").c_str(), 1);
        setenv("PELLAMO_SOFTTOKEN_DIR", (dir + "/tokens").c_str(), 1);
        setenv("PELLAMO_SOFTTOKEN_CONFIG", (dir + "/softtoken.conf").c_str(), 1);
        setenv("PELLAMO_CSP_DIR", cspDir.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
        fs::remove_all(cspDir, ec);
    }
    std::string dir, cspDir;
};

Environment* env = static_cast<Environment*>(::testing::AddGlobalTestEnvironment(new Environment));

void reinitialise(eDeviceP11Type type) {
    CK_FUNCTION_LIST_PTR f = functions(type);
    ASSERT_NE(f, nullptr);
    f->C_Finalize(nullptr);
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    ASSERT_EQ(f->C_Initialize(&args), CKR_OK);
}

}  // namespace

const std::string& folder() { return env->dir; }

CK_FUNCTION_LIST_PTR functions(eDeviceP11Type type) {
    HMODULE module = nullptr;
    CK_FUNCTION_LIST_PTR f = nullptr;
    return p11LibCacheGlobal->get(type, module, f) == 0 ? f : nullptr;
}

void reset(const std::string& config) {
    std::error_code ec;
    fs::remove_all(fs::path(env->dir) / "tokens", ec);
    fs::remove_all(env->cspDir, ec);
    fs::create_directories(env->cspDir, ec);
    std::ofstream(env->dir + "/softtoken.conf", std::ios::trunc) << config;
    reinitialise(P11_DEVICE_JACARTA);
    reinitialise(P11_DEVICE_RUTOKEN);
}

std::unique_ptr<CryptoP11> create(const std::string& name, eSupportCP kind, unsigned& r) {
    CryptoP11* raw = nullptr;
    r = CryptoP11::create(name, kind, &raw);
    return std::unique_ptr<CryptoP11>(raw);
}

std::unique_ptr<CryptoP11> open(const std::string& name, eSupportCP kind, unsigned& r) {
    CryptoP11* raw = nullptr;
    r = CryptoP11::init(name, kind, &raw);
    return std::unique_ptr<CryptoP11>(raw);
}

std::unique_ptr<Crypto1By1Connect> connect(const std::string& name, eSupportCP kind, unsigned& r) {
    Crypto1By1Connect* raw = nullptr;
    r = Crypto1By1Connect::init(name, kind, &raw);
    return std::unique_ptr<Crypto1By1Connect>(raw);
}

namespace {

CallCounter* active = nullptr;
CK_FUNCTION_LIST saved;

CK_RV countEncryptUpdate(CK_SESSION_HANDLE s, CK_BYTE_PTR in, CK_ULONG n, CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
    active->encryptUpdates.push_back(n);
    return saved.C_EncryptUpdate(s, in, n, out, outLen);
}
CK_RV countDecryptUpdate(CK_SESSION_HANDLE s, CK_BYTE_PTR in, CK_ULONG n, CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
    active->decryptUpdates.push_back(n);
    return saved.C_DecryptUpdate(s, in, n, out, outLen);
}
CK_RV countEncryptFinal(CK_SESSION_HANDLE s, CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
    ++active->encryptFinals;
    return saved.C_EncryptFinal(s, out, outLen);
}
CK_RV countDecryptFinal(CK_SESSION_HANDLE s, CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
    ++active->decryptFinals;
    return saved.C_DecryptFinal(s, out, outLen);
}
// Only calls that produce output count; size queries do not.
CK_RV countEncrypt(CK_SESSION_HANDLE s, CK_BYTE_PTR in, CK_ULONG n, CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
    active->encryptCalls += out ? 1 : 0;
    return saved.C_Encrypt(s, in, n, out, outLen);
}
CK_RV countDecrypt(CK_SESSION_HANDLE s, CK_BYTE_PTR in, CK_ULONG n, CK_BYTE_PTR out, CK_ULONG_PTR outLen) {
    active->decryptCalls += out ? 1 : 0;
    return saved.C_Decrypt(s, in, n, out, outLen);
}

}  // namespace

CallCounter::CallCounter(eDeviceP11Type type) : m_list(functions(type)), m_saved(*m_list) {
    active = this;
    saved = m_saved;
    m_list->C_EncryptUpdate = countEncryptUpdate;
    m_list->C_DecryptUpdate = countDecryptUpdate;
    m_list->C_EncryptFinal = countEncryptFinal;
    m_list->C_DecryptFinal = countDecryptFinal;
    m_list->C_Encrypt = countEncrypt;
    m_list->C_Decrypt = countDecrypt;
}

CallCounter::~CallCounter() {
    *m_list = m_saved;
    active = nullptr;
}

}  // namespace tokentest
