// The software provider's pieces shared by its Linux and Windows faces: the
// container files and their on-disk format, provider names per type, hash
// values set from outside, random bytes, and the PUBLICKEYBLOB of a
// certificate's public key.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "CspTestSupport.h"
#include "softgost/provider/CertParse.h"
#include "softgost/provider/ContainerFiles.h"
#include "softgost/provider/KeyContainerStore.h"
#include "softgost/provider/ProviderApi.h"
#include "softgost/provider/PublicKeyInfo.h"

using namespace testutil;
namespace files = plcsp::files;

namespace {

class ProviderStore : public CspDirTest {};

Bytes readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeAll(const std::string& path, const Bytes& b) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

void putU32(Bytes& b, unsigned v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

void putField(Bytes& b, const Bytes& v) {
    putU32(b, static_cast<unsigned>(v.size()));
    b.insert(b.end(), v.begin(), v.end());
}

// The SubjectPublicKeyInfo pieces of a PUBLICKEYBLOB: parameters DER and the
// BIT STRING content (OCTET STRING of the key).
void spkiOf(const Bytes& blob, std::size_t keyLen, Bytes& params, Bytes& bits) {
    params.assign(blob.begin() + 16, blob.end() - static_cast<std::ptrdiff_t>(keyLen));
    bits = {0x04};
    if (keyLen >= 0x80) bits.push_back(0x81);
    bits.push_back(static_cast<unsigned char>(keyLen));
    bits.insert(bits.end(), blob.end() - static_cast<std::ptrdiff_t>(keyLen), blob.end());
}

}  // namespace

TEST_F(ProviderStore, AtomicWriteReplacesAndLeavesNoTemporaryFile) {
    const std::string sub = files::join(dir(), "a/b");
    ASSERT_TRUE(files::makeDirs(sub));
    EXPECT_EQ(files::makeDir(sub), files::MakeDir::Exists);
    const Bytes first{1, 2, 3}, second{9, 8};
    ASSERT_TRUE(files::writeFileAtomic(sub, "f", first.data(), first.size()));
    ASSERT_TRUE(files::writeFileAtomic(sub, "f", second.data(), second.size()));
    EXPECT_EQ(readAll(sub + "/f"), second);
    std::vector<std::string> names;
    ASSERT_TRUE(files::listDir(sub, names));
    EXPECT_EQ(names, std::vector<std::string>{"f"});
    struct stat st {};
    ASSERT_EQ(::stat((sub + "/f").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(sub.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // A write into a missing folder fails and creates nothing.
    EXPECT_FALSE(files::writeFileAtomic(sub + "/missing", "f", first.data(), first.size()));
    EXPECT_FALSE(files::isDir(sub + "/missing"));
}

TEST_F(ProviderStore, ReadFileRefusesFoldersAndOversizedFiles) {
    const Bytes data(100, 0x5A);
    writeAll(dir() + "/f", data);
    plcsp::SecureBytes out;
    ASSERT_TRUE(files::readFile(dir() + "/f", 100, out));
    EXPECT_EQ(Bytes(out.data(), out.data() + out.size()), data);
    EXPECT_FALSE(files::readFile(dir() + "/f", 99, out));
    EXPECT_FALSE(files::readFile(dir(), 1 << 20, out));
    EXPECT_FALSE(files::readFile(dir() + "/none", 1 << 20, out));
    writeAll(dir() + "/empty", {});
    ASSERT_TRUE(files::readFile(dir() + "/empty", 10, out));
    EXPECT_EQ(out.size(), 0u);
}

TEST_F(ProviderStore, RemoveDirWithFilesAndListing) {
    const std::string sub = files::join(dir(), "c");
    ASSERT_TRUE(files::makeDirs(sub));
    writeAll(sub + "/x", {1});
    writeAll(sub + "/.y", {2});
    std::vector<std::string> names;
    ASSERT_TRUE(files::listDir(sub, names));
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{".y", "x"}));
    EXPECT_TRUE(files::removeDirWithFiles(sub));
    EXPECT_FALSE(files::isDir(sub));
    EXPECT_FALSE(files::removeDirWithFiles(sub));
    names.clear();
    EXPECT_FALSE(files::listDir(sub, names));
}

// The key file as the store writes it; tests and tools on either system
// read and write these bytes.
TEST_F(ProviderStore, KeyFileFormatIsStable) {
    const std::string name = "\xD2\xE5\xF1\xF2 1";  // "Тест 1" in code page 1251
    HCRYPTPROV prov = newContainer(name, 80);
    ASSERT_NE(prov, 0u);
    const Bytes blob = userPublicBlob(prov);
    ASSERT_GT(blob.size(), 16u + 64);
    CryptReleaseContext(prov, 0);

    const std::string folder = dir() + "/containers/%D2%E5%F1%F2%201";
    const Bytes file = readAll(folder + "/key");
    Bytes expected{'P', 'L', 'K', '1'};
    putU32(expected, 1);
    putU32(expected, 80);
    putU32(expected, CALG_GR3410_12_256);
    putField(expected, bytesOf("1.2.643.2.2.36.0"));
    putField(expected, bytesOf("1.2.643.7.1.1.2.2"));
    putField(expected, Bytes(blob.end() - 64, blob.end()));
    ASSERT_EQ(file.size(), expected.size() + 4 + 32);
    EXPECT_EQ(Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected);
    EXPECT_EQ(Bytes(file.begin() + static_cast<std::ptrdiff_t>(expected.size()),
                    file.begin() + static_cast<std::ptrdiff_t>(expected.size()) + 4),
              (Bytes{32, 0, 0, 0}));

    // A file written by hand with the same layout opens as the same key.
    ASSERT_TRUE(files::makeDirs(dir() + "/containers/copy"));
    writeAll(dir() + "/containers/copy/key", file);
    HCRYPTPROV copy = 0;
    ASSERT_TRUE(CryptAcquireContextA(&copy, "copy", nullptr, 80, 0));
    EXPECT_EQ(userPublicBlob(copy), blob);
    CryptReleaseContext(copy, 0);

    // Truncated or extended files are refused, not half read.
    for (const Bytes& bad : {Bytes(file.begin(), file.end() - 1), [&] {
                                 Bytes b = file;
                                 b.push_back(0);
                                 return b;
                             }()}) {
        writeAll(dir() + "/containers/copy/key", bad);
        EXPECT_FALSE(CryptAcquireContextA(&copy, "copy", nullptr, 80, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_KEYSET_ENTRY_BAD));
    }
}

TEST_F(ProviderStore, ContainerNamesMapToSafeFolders) {
    // '/', '.', '%' and bytes above 0x7F never reach the file system as such.
    const std::string name = "../x%2F\xFF";
    ASSERT_EQ(plcsp::containers::create(name), 0u);
    EXPECT_TRUE(files::isDir(dir() + "/containers/%2E%2E%2Fx%252F%FF"));
    EXPECT_EQ(plcsp::containers::list(), std::vector<std::string>{name});
    EXPECT_EQ(plcsp::containers::create(name), static_cast<DWORD>(NTE_EXISTS));
    EXPECT_EQ(plcsp::containers::remove(name), 0u);
    EXPECT_EQ(plcsp::containers::remove(name), static_cast<DWORD>(NTE_BAD_KEYSET));
    // Folders that are no encoded name are not listed.
    ASSERT_TRUE(files::makeDirs(dir() + "/containers/bad%G1"));
    EXPECT_TRUE(plcsp::containers::list().empty());
}

TEST(ProviderNames, OneDevelopmentNamePerType) {
    const auto types = softgost::providerTypes();
    EXPECT_EQ(types, (std::vector<DWORD>{75, 80, 81, 2, 77, 78}));
    std::vector<std::string> names;
    for (DWORD t : types) {
        ASSERT_NE(softgost::providerName(t), nullptr);
        names.emplace_back(softgost::providerName(t));
        EXPECT_NE(names.back().find("Development"), std::string::npos) << names.back();
        // Names are registry key names.
        EXPECT_EQ(names.back().find('\\'), std::string::npos);
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end());
    EXPECT_EQ(softgost::providerName(1), nullptr);
    EXPECT_EQ(softgost::providerName(24), nullptr);

    for (DWORD t : {75u, 81u, 77u}) {
        HCRYPTPROV v = 0;
        ASSERT_TRUE(CryptAcquireContextA(&v, nullptr, nullptr, t, CRYPT_VERIFYCONTEXT));
        char buf[128];
        DWORD n = sizeof buf;
        ASSERT_TRUE(CryptGetProvParam(v, PP_NAME, reinterpret_cast<BYTE*>(buf), &n, 0));
        EXPECT_STREQ(buf, softgost::providerName(t));
        EXPECT_EQ(n, std::strlen(buf) + 1);
        CryptReleaseContext(v, 0);
    }
}

TEST_F(ProviderStore, HashValueSetFromOutsideSignsAndVerifies) {
    HCRYPTPROV prov = newContainer("h", 80);
    ASSERT_NE(prov, 0u);
    const Bytes data = bytesOf("message");
    const Bytes digest = hashOf(prov, CALG_GR3411_2012_256, data);
    ASSERT_EQ(digest.size(), 32u);

    HCRYPTHASH h = 0;
    ASSERT_TRUE(CryptCreateHash(prov, CALG_GR3411_2012_256, 0, 0, &h));
    ASSERT_TRUE(softgost::setHashParam(h, HP_HASHVAL, digest.data(), 0));
    // A set value ends the hash: no more data.
    EXPECT_FALSE(CryptHashData(h, data.data(), 1, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_HASH_STATE));
    Bytes value(32);
    DWORD n = 32;
    ASSERT_TRUE(CryptGetHashParam(h, HP_HASHVAL, value.data(), &n, 0));
    EXPECT_EQ(value, digest);
    DWORD sigLen = 64;
    Bytes sig(sigLen);
    ASSERT_TRUE(CryptSignHashA(h, AT_KEYEXCHANGE, nullptr, 0, sig.data(), &sigLen));
    CryptDestroyHash(h);

    // The signature is one of the data itself.
    HCRYPTKEY user = 0;
    ASSERT_TRUE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &user));
    ASSERT_TRUE(CryptCreateHash(prov, CALG_GR3411_2012_256, 0, 0, &h));
    ASSERT_TRUE(CryptHashData(h, data.data(), static_cast<DWORD>(data.size()), 0));
    EXPECT_TRUE(CryptVerifySignatureA(h, sig.data(), sigLen, user, nullptr, 0));
    CryptDestroyHash(h);

    ASSERT_TRUE(CryptCreateHash(prov, CALG_GR3411_2012_256, 0, 0, &h));
    EXPECT_FALSE(softgost::setHashParam(h, HP_HASHVAL, nullptr, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_FALSE(softgost::setHashParam(h, HP_ALGID, digest.data(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_TYPE));
    CryptDestroyHash(h);
    EXPECT_FALSE(softgost::setHashParam(h, HP_HASHVAL, digest.data(), 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_HASH));
    CryptDestroyKey(user);
    CryptReleaseContext(prov, 0);
}

TEST(ProviderRandom, FillsBuffersAndChecksArguments) {
    HCRYPTPROV v = 0;
    ASSERT_TRUE(CryptAcquireContextA(&v, nullptr, nullptr, 80, CRYPT_VERIFYCONTEXT));
    Bytes a(64), b(64);
    ASSERT_TRUE(softgost::genRandom(v, 64, a.data()));
    ASSERT_TRUE(softgost::genRandom(v, 64, b.data()));
    EXPECT_NE(a, b);
    EXPECT_NE(a, Bytes(64, 0));
    EXPECT_TRUE(softgost::genRandom(v, 0, nullptr));
    EXPECT_FALSE(softgost::genRandom(v, 8, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    CryptReleaseContext(v, 0);
    EXPECT_FALSE(softgost::genRandom(v, 8, a.data()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_UID));
}

TEST_F(ProviderStore, PublicKeyBlobFromCertificateKeyInfo) {
    struct Case {
        DWORD type;
        const char* oid;
        ALG_ID alg;
        std::size_t keyLen;
    };
    for (const Case& c : {Case{75, "1.2.643.2.2.19", CALG_GR3410EL, 64},
                          Case{80, "1.2.643.7.1.1.1.1", CALG_GR3410_12_256, 64},
                          Case{81, "1.2.643.7.1.1.1.2", CALG_GR3410_12_512, 128}}) {
        SCOPED_TRACE(c.oid);
        HCRYPTPROV prov = newContainer("k" + std::to_string(c.type), c.type);
        ASSERT_NE(prov, 0u);
        const Bytes blob = userPublicBlob(prov);
        Bytes params, bits, out;
        spkiOf(blob, c.keyLen, params, bits);
        ASSERT_EQ(plcsp::publicKeyBlobFromSpki(c.oid, params.data(), params.size(), bits.data(), bits.size(), 0, 0, out),
                  0u);
        EXPECT_EQ(out, blob);
        EXPECT_EQ(plcsp::publicKeyBlobFromSpki(c.oid, params.data(), params.size(), bits.data(), bits.size(), 0,
                                               c.alg, out),
                  0u);
        // The blob imports as a public key of the provider.
        HCRYPTKEY key = 0;
        EXPECT_TRUE(CryptImportKey(prov, out.data(), static_cast<DWORD>(out.size()), 0, 0, &key));
        CryptDestroyKey(key);

        // Another algorithm, asked or named.
        EXPECT_EQ(plcsp::publicKeyBlobFromSpki(c.oid, params.data(), params.size(), bits.data(), bits.size(), 0,
                                               CALG_G28147, out),
                  static_cast<DWORD>(NTE_BAD_ALGID));
        EXPECT_EQ(plcsp::publicKeyBlobFromSpki("1.2.840.113549.1.1.1", params.data(), params.size(), bits.data(),
                                               bits.size(), 0, 0, out),
                  static_cast<DWORD>(NTE_BAD_ALGID));
        // Malformed keys: unused bits, no OCTET STRING, short key, bytes after it, no parameters.
        const DWORD bad = static_cast<DWORD>(NTE_BAD_PUBLIC_KEY);
        EXPECT_EQ(plcsp::publicKeyBlobFromSpki(c.oid, params.data(), params.size(), bits.data(), bits.size(), 1, 0, out), bad);
        Bytes notOctets = bits;
        notOctets[0] = 0x03;
        EXPECT_EQ(plcsp::publicKeyBlobFromSpki(c.oid, params.data(), params.size(), notOctets.data(), notOctets.size(), 0, 0, out), bad);
        Bytes shortKey = bits;
        shortKey.pop_back();
        shortKey[shortKey.size() - c.keyLen] = static_cast<unsigned char>(c.keyLen - 1);
        EXPECT_EQ(plcsp::publicKeyBlobFromSpki(c.oid, params.data(), params.size(), shortKey.data(), shortKey.size(), 0, 0, out), bad);
        Bytes longer = bits;
        longer.push_back(0);
        EXPECT_EQ(plcsp::publicKeyBlobFromSpki(c.oid, params.data(), params.size(), longer.data(), longer.size(), 0, 0, out), bad);
        EXPECT_EQ(plcsp::publicKeyBlobFromSpki(c.oid, nullptr, 0, bits.data(), bits.size(), 0, 0, out), bad);
        const Bytes null{0x05, 0x00};
        EXPECT_EQ(plcsp::publicKeyBlobFromSpki(c.oid, null.data(), null.size(), bits.data(), bits.size(), 0, 0, out), bad);
        CryptReleaseContext(prov, 0);
    }
}

TEST(ProviderOids, TablesAgreeWithTheKeyClasses) {
    for (const auto& o : plcsp::gostPublicKeyOids()) {
        EXPECT_EQ(plcsp::pubKeyAlgOfOid(o.oid), o.algId);
    }
    EXPECT_EQ(plcsp::pubKeyAlgOfOid("1.2.643.7.1.1.1"), 0u);
    // Every signature names a known hash and public key algorithm.
    for (const auto& s : plcsp::gostSignatureOids()) {
        bool hash = false, key = false;
        for (const auto& h : plcsp::gostHashOids()) hash = hash || h.algId == s.algId;
        for (const auto& k : plcsp::gostPublicKeyOids()) key = key || k.algId == s.pubKeyAlg;
        EXPECT_TRUE(hash && key) << s.oid;
    }
}

TEST(CertParseShared, KeyValueAndLengthFromHeader) {
    Bytes value;
    EXPECT_TRUE(plcsp::gostKeyValue({0x04, 0x02, 0xAA, 0xBB}, value));
    EXPECT_EQ(value, (Bytes{0xAA, 0xBB}));
    EXPECT_FALSE(plcsp::gostKeyValue({0x04, 0x02, 0xAA, 0xBB, 0x00}, value));
    EXPECT_FALSE(plcsp::gostKeyValue({0x04, 0x03, 0xAA, 0xBB}, value));
    EXPECT_FALSE(plcsp::gostKeyValue({}, value));
    const Bytes shortForm{0x30, 0x05};
    EXPECT_EQ(plcsp::derLengthFromHeader(shortForm.data()), 7u);
    const Bytes longForm{0x30, 0x82, 0x01, 0x00};
    EXPECT_EQ(plcsp::derLengthFromHeader(longForm.data()), 4u + 256u);
    const Bytes notSequence{0x31, 0x05};
    EXPECT_EQ(plcsp::derLengthFromHeader(notSequence.data()), 0u);
    const Bytes indefinite{0x30, 0x80};
    EXPECT_EQ(plcsp::derLengthFromHeader(indefinite.data()), 0u);
    EXPECT_EQ(plcsp::derLengthFromHeader(nullptr), 0u);
}
