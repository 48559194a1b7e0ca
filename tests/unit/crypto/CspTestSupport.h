// Shared helpers of the crypto tests: hex conversion, a temporary key
// container folder per test, and small CryptoAPI conveniences.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "helpers/Hex.h"
#include "platform/wincrypt.h"

namespace testutil {

using Bytes = std::vector<unsigned char>;

using test_hex::fromHex;

inline std::string toHex(const Bytes& b) { return test_hex::toHex(b.data(), b.size()); }

inline Bytes reversed(Bytes b) {
    std::reverse(b.begin(), b.end());
    return b;
}

inline Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Gives every test its own container folder through PELLAMO_CSP_DIR.
class CspDirTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/pellamo-csp-XXXXXX";
        char* dir = mkdtemp(tmpl);
        ASSERT_NE(dir, nullptr);
        m_dir = dir;
        setenv("PELLAMO_CSP_DIR", m_dir.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
        unsetenv("PELLAMO_CSP_DIR");
    }
    const std::string& dir() const { return m_dir; }

private:
    std::string m_dir;
};

// A container with a fresh key pair; the provider stays open.
inline HCRYPTPROV newContainer(const std::string& name, DWORD provType) {
    HCRYPTPROV prov = 0;
    if (!CryptAcquireContextA(&prov, name.c_str(), nullptr, provType, CRYPT_NEWKEYSET)) {
        return 0;
    }
    HCRYPTKEY key = 0;
    const DWORD bits = (provType == 78 || provType == 81) ? 1024 : 512;
    if (!CryptGenKey(prov, AT_KEYEXCHANGE, (bits << 16) | CRYPT_EXPORTABLE, &key)) {
        CryptReleaseContext(prov, 0);
        return 0;
    }
    CryptDestroyKey(key);
    return prov;
}

inline Bytes exportPublic(HCRYPTKEY key) {
    DWORD n = 0;
    if (!CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &n)) return {};
    Bytes b(n);
    if (!CryptExportKey(key, 0, PUBLICKEYBLOB, 0, b.data(), &n)) return {};
    b.resize(n);
    return b;
}

inline Bytes userPublicBlob(HCRYPTPROV prov) {
    HCRYPTKEY key = 0;
    if (!CryptGetUserKey(prov, AT_KEYEXCHANGE, &key)) return {};
    Bytes b = exportPublic(key);
    CryptDestroyKey(key);
    return b;
}

inline Bytes hashOf(HCRYPTPROV prov, ALG_ID alg, const Bytes& data) {
    HCRYPTHASH h = 0;
    if (!CryptCreateHash(prov, alg, 0, 0, &h)) return {};
    CryptHashData(h, data.data(), static_cast<DWORD>(data.size()), 0);
    DWORD n = 64;
    Bytes out(n);
    if (!CryptGetHashParam(h, HP_HASHVAL, out.data(), &n, 0)) out.clear();
    out.resize(n);
    CryptDestroyHash(h);
    return out;
}

inline Bytes signData(HCRYPTPROV prov, ALG_ID alg, const Bytes& data) {
    HCRYPTHASH h = 0;
    if (!CryptCreateHash(prov, alg, 0, 0, &h)) return {};
    CryptHashData(h, data.data(), static_cast<DWORD>(data.size()), 0);
    DWORD n = 0;
    Bytes sig;
    if (CryptSignHashA(h, AT_KEYEXCHANGE, nullptr, 0, nullptr, &n)) {
        sig.resize(n);
        if (!CryptSignHashA(h, AT_KEYEXCHANGE, nullptr, 0, sig.data(), &n)) sig.clear();
    }
    CryptDestroyHash(h);
    return sig;
}

}  // namespace testutil
