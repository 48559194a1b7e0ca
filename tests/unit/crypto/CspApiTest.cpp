// CryptoAPI behaviour of the software GOST provider: containers and their
// names, parameters, handle checks, blob bounds and failure codes.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <thread>

#include "CspTestSupport.h"

using namespace testutil;

namespace {

class CspApi : public CspDirTest {};

std::vector<std::string> enumerate(HCRYPTPROV prov, DWORD extra) {
    std::vector<std::string> names;
    DWORD flags = CRYPT_FIRST | extra;
    char buf[512];
    for (;;) {
        DWORD n = sizeof buf;
        if (!CryptGetProvParam(prov, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(buf), &n, flags)) {
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_ITEMS));
            break;
        }
        names.emplace_back(buf);
        flags = CRYPT_NEXT | extra;
    }
    return names;
}

Bytes sessionBlobFor(HCRYPTPROV prov, HCRYPTKEY agree, HCRYPTKEY* session) {
    EXPECT_TRUE(CryptGenKey(prov, CALG_G28147, CRYPT_EXPORTABLE, session));
    DWORD n = 0;
    EXPECT_TRUE(CryptExportKey(*session, agree, SIMPLEBLOB, 0, nullptr, &n));
    Bytes b(n);
    EXPECT_TRUE(CryptExportKey(*session, agree, SIMPLEBLOB, 0, b.data(), &n));
    return b;
}

}  // namespace

TEST_F(CspApi, ContainerLifecycleAndNames) {
    HCRYPTPROV prov = newContainer("Иванов_7701", 80);  // any narrow bytes are fine
    ASSERT_NE(prov, 0u);
    HCRYPTPROV dup = 0;
    EXPECT_FALSE(CryptAcquireContextA(&dup, "Иванов_7701", nullptr, 80, CRYPT_NEWKEYSET));
    EXPECT_EQ(GetLastError(), NTE_EXISTS);

    char buf[256];
    DWORD n = sizeof buf;
    ASSERT_TRUE(CryptGetProvParam(prov, PP_UNIQUE_CONTAINER, reinterpret_cast<BYTE*>(buf), &n, 0));
    EXPECT_STREQ(buf, "\\\\.\\FILES\\Иванов_7701");
    DWORD type = 0;
    n = sizeof type;
    ASSERT_TRUE(CryptGetProvParam(prov, PP_PROVTYPE, reinterpret_cast<BYTE*>(&type), &n, 0));
    EXPECT_EQ(type, 80u);
    DWORD version = 0;
    n = sizeof version;
    ASSERT_TRUE(CryptGetProvParam(prov, PP_VERSION, reinterpret_cast<BYTE*>(&version), &n, 0));
    EXPECT_EQ(version, 0x100u);
    const Bytes pub = userPublicBlob(prov);
    CryptReleaseContext(prov, 0);

    // The fully qualified name opens the same container and key.
    ASSERT_TRUE(CryptAcquireContextA(&prov, "\\\\.\\FILES\\Иванов_7701", nullptr, 80, 0));
    EXPECT_EQ(userPublicBlob(prov), pub);
    CryptReleaseContext(prov, 0);

    // The private key file is the owner's only.
    struct stat st {};
    bool found = false;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir())) {
        if (e.path().filename() == "key") {
            ASSERT_EQ(::stat(e.path().c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 0777, 0600u);
            found = true;
        }
    }
    EXPECT_TRUE(found);

    ASSERT_TRUE(CryptAcquireContextA(&prov, "Иванов_7701", nullptr, 80, CRYPT_DELETEKEYSET));
    EXPECT_FALSE(CryptAcquireContextA(&prov, "Иванов_7701", nullptr, 80, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);
    EXPECT_FALSE(CryptAcquireContextA(&prov, "Иванов_7701", nullptr, 80, CRYPT_DELETEKEYSET));
}

TEST_F(CspApi, AcquireRejectsBadArguments) {
    HCRYPTPROV prov = 0;
    EXPECT_FALSE(CryptAcquireContextA(&prov, nullptr, nullptr, 1, CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(GetLastError(), NTE_PROV_TYPE_NOT_DEF);
    EXPECT_FALSE(CryptAcquireContextA(&prov, "a", nullptr, 75, CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET));
    EXPECT_EQ(GetLastError(), NTE_BAD_FLAGS);
    EXPECT_FALSE(CryptAcquireContextA(&prov, "", nullptr, 75, 0));
    EXPECT_FALSE(CryptAcquireContextA(&prov, "\\\\.\\OTHER\\a", nullptr, 75, 0));
    EXPECT_FALSE(CryptAcquireContextA(&prov, std::string(86, 'x').c_str(), nullptr, 75, CRYPT_NEWKEYSET));
    EXPECT_FALSE(CryptAcquireContextA(nullptr, nullptr, nullptr, 75, CRYPT_VERIFYCONTEXT));
}

TEST_F(CspApi, EnumeratesShortAndQualifiedNames) {
    for (const char* name : {"b", "a", "c.d"}) {
        HCRYPTPROV p = 0;
        ASSERT_TRUE(CryptAcquireContextA(&p, name, nullptr, 75, CRYPT_NEWKEYSET));
        CryptReleaseContext(p, 0);
    }
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, 75, CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(enumerate(prov, 0), (std::vector<std::string>{"a", "b", "c.d"}));
    EXPECT_EQ(enumerate(prov, CRYPT_FQCN),
              (std::vector<std::string>{"\\\\.\\FILES\\a", "\\\\.\\FILES\\b", "\\\\.\\FILES\\c.d"}));
    // A short buffer reports the size and does not advance.
    DWORD n = 1;
    char small[1];
    EXPECT_FALSE(CryptGetProvParam(prov, PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(small), &n, CRYPT_FIRST));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(n, 2u);
    CryptReleaseContext(prov, 0);
}

TEST_F(CspApi, NewContainerHasNoKeyUntilGenerated) {
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextA(&prov, "empty", nullptr, 75, CRYPT_NEWKEYSET));
    HCRYPTKEY key = 0;
    EXPECT_FALSE(CryptGetUserKey(prov, AT_KEYEXCHANGE, &key));
    EXPECT_EQ(GetLastError(), NTE_NO_KEY);
    EXPECT_FALSE(CryptGenKey(prov, AT_KEYEXCHANGE, (1024u << 16) | CRYPT_EXPORTABLE, &key));
    EXPECT_EQ(GetLastError(), NTE_BAD_FLAGS);
    ASSERT_TRUE(CryptGenKey(prov, AT_KEYEXCHANGE, 0x02000001, &key));
    DWORD bits = 0, n = sizeof bits;
    ASSERT_TRUE(CryptGetKeyParam(key, KP_KEYLEN, reinterpret_cast<BYTE*>(&bits), &n, 0));
    EXPECT_EQ(bits, 512u);
    CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);

    HCRYPTPROV verify = 0;
    ASSERT_TRUE(CryptAcquireContextA(&verify, nullptr, nullptr, 75, CRYPT_VERIFYCONTEXT));
    EXPECT_FALSE(CryptGenKey(verify, AT_KEYEXCHANGE, 0, &key));
    CryptReleaseContext(verify, 0);
}

TEST_F(CspApi, PublicKeyBlobLayout) {
    struct Case {
        DWORD type;
        std::size_t size;
        unsigned alg;
        unsigned bits;
    };
    for (const Case& c : {Case{75, 16 + 20 + 64, 0x2E23, 512}, Case{80, 16 + 21 + 64, 0x2E49, 512},
                          Case{81, 16 + 23 + 128, 0x2E3D, 1024}}) {
        HCRYPTPROV prov = newContainer("k" + std::to_string(c.type), c.type);
        ASSERT_NE(prov, 0u);
        const Bytes b = userPublicBlob(prov);
        ASSERT_EQ(b.size(), c.size);
        EXPECT_EQ(b[0], 0x06);
        EXPECT_EQ(b[1], 0x20);
        EXPECT_EQ(b[4] | (b[5] << 8), static_cast<int>(c.alg));
        EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 12), "MAG1");
        EXPECT_EQ(b[12] | (b[13] << 8), static_cast<int>(c.bits));
        EXPECT_EQ(b[16], 0x30);
        EXPECT_EQ(b[18], 0x06);
        if (c.type == 75) {
            EXPECT_EQ(b[25], 0x23);  // 1.2.643.2.2.35.1
            EXPECT_EQ(b[26], 0x01);
        }
        if (c.type == 80) {
            EXPECT_EQ(b[25], 0x24);  // 1.2.643.2.2.36.0
            EXPECT_EQ(b[26], 0x00);
        }
        CryptReleaseContext(prov, 0);
    }
}

TEST_F(CspApi, PublicKeyBlobsAreBoundsChecked) {
    HCRYPTPROV prov = newContainer("bounds", 80);
    ASSERT_NE(prov, 0u);
    const Bytes good = userPublicBlob(prov);
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptImportKey(prov, good.data(), static_cast<DWORD>(good.size()), 0, 0, &key));
    CryptDestroyKey(key);
    // Every truncation, and one extra byte, is refused without reading past the end.
    for (std::size_t n = 1; n < good.size(); ++n) {
        Bytes cut(good.begin(), good.begin() + static_cast<long>(n));
        EXPECT_FALSE(CryptImportKey(prov, cut.data(), static_cast<DWORD>(cut.size()), 0, 0, &key)) << n;
    }
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_FALSE(CryptImportKey(prov, longer.data(), static_cast<DWORD>(longer.size()), 0, 0, &key));
    // A SEQUENCE length that points past the blob.
    Bytes lying = good;
    lying[17] = 0x7F;
    EXPECT_FALSE(CryptImportKey(prov, lying.data(), static_cast<DWORD>(lying.size()), 0, 0, &key));
    // A point that is not on the curve.
    Bytes offCurve = good;
    offCurve.back() ^= 1;
    EXPECT_FALSE(CryptImportKey(prov, offCurve.data(), static_cast<DWORD>(offCurve.size()), 0, 0, &key));
    EXPECT_EQ(GetLastError(), NTE_BAD_DATA);
    // An unknown parameter set.
    Bytes unknown = good;
    unknown[26] = 0x09;
    EXPECT_FALSE(CryptImportKey(prov, unknown.data(), static_cast<DWORD>(unknown.size()), 0, 0, &key));
    CryptReleaseContext(prov, 0);
}

TEST_F(CspApi, SimpleBlobsAreBoundsChecked) {
    HCRYPTPROV a = newContainer("alice", 75), b = newContainer("bob", 75);
    ASSERT_NE(a, 0u);
    ASSERT_NE(b, 0u);
    const Bytes pubA = userPublicBlob(a), pubB = userPublicBlob(b);
    HCRYPTKEY userA = 0, userB = 0, agreeA = 0, agreeB = 0, session = 0, imported = 0;
    ASSERT_TRUE(CryptGetUserKey(a, AT_KEYEXCHANGE, &userA));
    ASSERT_TRUE(CryptGetUserKey(b, AT_KEYEXCHANGE, &userB));
    ASSERT_TRUE(CryptImportKey(a, pubB.data(), static_cast<DWORD>(pubB.size()), userA, 0, &agreeA));
    ASSERT_TRUE(CryptImportKey(b, pubA.data(), static_cast<DWORD>(pubA.size()), userB, 0, &agreeB));
    const Bytes blob = sessionBlobFor(a, agreeA, &session);
    ASSERT_EQ(blob.size(), 71u);
    EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 16),
              fromHex("012000001e660000fd514a371e660000"));
    Bytes ukm(8);
    DWORD n = 8;
    ASSERT_TRUE(CryptGetKeyParam(agreeA, KP_IV, ukm.data(), &n, 0));
    EXPECT_EQ(Bytes(blob.begin() + 16, blob.begin() + 24), ukm);
    EXPECT_EQ(Bytes(blob.begin() + 60, blob.end()), fromHex("300906072a850302021f01"));

    ASSERT_TRUE(CryptImportKey(b, blob.data(), static_cast<DWORD>(blob.size()), agreeB, 0, &imported));
    CryptDestroyKey(imported);
    for (std::size_t len = 1; len < blob.size(); ++len) {
        EXPECT_FALSE(CryptImportKey(b, blob.data(), static_cast<DWORD>(len), agreeB, 0, &imported)) << len;
    }
    Bytes longer = blob;
    longer.push_back(0);
    EXPECT_FALSE(CryptImportKey(b, longer.data(), static_cast<DWORD>(longer.size()), agreeB, 0, &imported));
    Bytes badMagic = blob;
    badMagic[8] ^= 1;
    EXPECT_FALSE(CryptImportKey(b, badMagic.data(), static_cast<DWORD>(badMagic.size()), agreeB, 0, &imported));
    // Only an agreed key unwraps.
    EXPECT_FALSE(CryptImportKey(b, blob.data(), static_cast<DWORD>(blob.size()), userB, 0, &imported));
    EXPECT_FALSE(CryptImportKey(b, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &imported));
    for (HCRYPTKEY k : {userA, userB, agreeA, agreeB, session}) CryptDestroyKey(k);
    CryptReleaseContext(a, 0);
    CryptReleaseContext(b, 0);
}

TEST_F(CspApi, AgreementNeedsMatchingClasses) {
    HCRYPTPROV a = newContainer("g2001", 75), b = newContainer("g2012", 80);
    const Bytes pubB = userPublicBlob(b);
    HCRYPTKEY user = 0, agree = 0;
    ASSERT_TRUE(CryptGetUserKey(a, AT_KEYEXCHANGE, &user));
    EXPECT_FALSE(CryptImportKey(a, pubB.data(), static_cast<DWORD>(pubB.size()), user, 0, &agree));
    EXPECT_EQ(GetLastError(), NTE_BAD_PUBLIC_KEY);
    CryptDestroyKey(user);
    CryptReleaseContext(a, 0);
    CryptReleaseContext(b, 0);
}

TEST_F(CspApi, BadHandlesFailWithoutCrashing) {
    const ULONG_PTR junk[] = {0, 1, 0xDEADBEEF, ~static_cast<ULONG_PTR>(0)};
    Bytes buf(256);
    for (ULONG_PTR h : junk) {
        DWORD n = static_cast<DWORD>(buf.size());
        HCRYPTKEY k = 0;
        HCRYPTHASH hh = 0;
        EXPECT_FALSE(CryptReleaseContext(h, 0));
        EXPECT_EQ(GetLastError(), NTE_BAD_UID);
        EXPECT_FALSE(CryptGetProvParam(h, PP_VERSION, buf.data(), &n, 0));
        EXPECT_FALSE(CryptGenKey(h, CALG_G28147, 0, &k));
        EXPECT_FALSE(CryptGetUserKey(h, AT_KEYEXCHANGE, &k));
        EXPECT_FALSE(CryptCreateHash(h, CALG_GR3411, 0, 0, &hh));
        EXPECT_FALSE(CryptImportKey(h, buf.data(), 10, 0, 0, &k));
        EXPECT_FALSE(CryptDestroyKey(h));
        EXPECT_EQ(GetLastError(), NTE_BAD_KEY);
        EXPECT_FALSE(CryptExportKey(h, 0, PUBLICKEYBLOB, 0, buf.data(), &n));
        EXPECT_FALSE(CryptSetKeyParam(h, KP_IV, buf.data(), 0));
        EXPECT_FALSE(CryptGetKeyParam(h, KP_IV, buf.data(), &n, 0));
        n = 16;
        EXPECT_FALSE(CryptEncrypt(h, 0, TRUE, 0, buf.data(), &n, 256));
        EXPECT_FALSE(CryptDecrypt(h, 0, TRUE, 0, buf.data(), &n));
        EXPECT_FALSE(CryptHashData(h, buf.data(), 4, 0));
        EXPECT_EQ(GetLastError(), NTE_BAD_HASH);
        EXPECT_FALSE(CryptGetHashParam(h, HP_HASHVAL, buf.data(), &n, 0));
        EXPECT_FALSE(CryptSignHashA(h, AT_KEYEXCHANGE, nullptr, 0, buf.data(), &n));
        EXPECT_FALSE(CryptVerifySignatureA(h, buf.data(), 64, h, nullptr, 0));
        EXPECT_FALSE(CryptDestroyHash(h));
    }
}

TEST_F(CspApi, ReleasingTheProviderDestroysItsKeysAndHashes) {
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, 75, CRYPT_VERIFYCONTEXT));
    HCRYPTKEY key = 0;
    HCRYPTHASH hash = 0;
    ASSERT_TRUE(CryptGenKey(prov, CALG_G28147, 0, &key));
    ASSERT_TRUE(CryptCreateHash(prov, CALG_GR3411, 0, 0, &hash));
    ASSERT_TRUE(CryptReleaseContext(prov, 0));
    EXPECT_FALSE(CryptDestroyKey(key));
    EXPECT_FALSE(CryptDestroyHash(hash));
}

TEST_F(CspApi, HashAndSignatureRules) {
    HCRYPTPROV prov = newContainer("signer", 75);
    HCRYPTHASH h = 0;
    const Bytes data = bytesOf("data");
    // A 2001 key signs only with the GOST R 34.11-94 hash.
    ASSERT_TRUE(CryptCreateHash(prov, CALG_GR3411_2012_256, 0, 0, &h));
    CryptHashData(h, data.data(), 4, 0);
    Bytes sig(64);
    DWORD n = 64;
    EXPECT_FALSE(CryptSignHashA(h, AT_KEYEXCHANGE, nullptr, 0, sig.data(), &n));
    EXPECT_EQ(GetLastError(), NTE_BAD_ALGID);
    CryptDestroyHash(h);

    ASSERT_TRUE(CryptCreateHash(prov, CALG_GR3411, 0, 0, &h));
    CryptHashData(h, data.data(), 4, 0);
    n = 10;
    EXPECT_FALSE(CryptSignHashA(h, AT_KEYEXCHANGE, nullptr, 0, sig.data(), &n));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(n, 64u);
    EXPECT_FALSE(CryptSignHashA(h, AT_SIGNATURE, nullptr, 0, sig.data(), &n));
    EXPECT_EQ(GetLastError(), NTE_NO_KEY);
    ASSERT_TRUE(CryptSignHashA(h, AT_KEYEXCHANGE, nullptr, 0, sig.data(), &n));
    // A finished hash takes no more data.
    EXPECT_FALSE(CryptHashData(h, data.data(), 4, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_HASH_STATE);
    CryptDestroyHash(h);
    EXPECT_FALSE(CryptCreateHash(prov, 0x8003 /* MD5 */, 0, 0, &h));
    EXPECT_EQ(GetLastError(), NTE_BAD_ALGID);
    CryptReleaseContext(prov, 0);
}

TEST_F(CspApi, CfbStreamAcrossCallsEqualsOneCall) {
    HCRYPTPROV prov = 0;
    ASSERT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, 80, CRYPT_VERIFYCONTEXT));
    HCRYPTKEY key = 0;
    ASSERT_TRUE(CryptGenKey(prov, CALG_G28147, CRYPT_EXPORTABLE, &key));
    Bytes plain(4100);
    for (std::size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<unsigned char>(i ^ 0x33);
    Bytes whole = plain;
    DWORD n = static_cast<DWORD>(whole.size());
    ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, whole.data(), &n, n));
    Bytes pieces = plain;
    for (std::size_t off = 0; off < pieces.size(); off += 1024) {
        DWORD len = static_cast<DWORD>(std::min<std::size_t>(1024, pieces.size() - off));
        ASSERT_TRUE(CryptEncrypt(key, 0, off + len == pieces.size(), 0, pieces.data() + off, &len, 2048));
    }
    EXPECT_EQ(whole, pieces);
    EXPECT_NE(whole, plain);
    // The buffer size is checked.
    n = 16;
    EXPECT_FALSE(CryptEncrypt(key, 0, TRUE, 0, pieces.data(), &n, 8));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    // Changing the IV restarts the stream from it.
    Bytes iv(8, 7);
    ASSERT_TRUE(CryptSetKeyParam(key, KP_IV, iv.data(), 0));
    Bytes a = plain, b = plain;
    n = 100;
    ASSERT_TRUE(CryptEncrypt(key, 0, FALSE, 0, a.data(), &n, 100));
    ASSERT_TRUE(CryptSetKeyParam(key, KP_IV, iv.data(), 0));
    ASSERT_TRUE(CryptEncrypt(key, 0, TRUE, 0, b.data(), &n, 100));
    EXPECT_EQ(Bytes(a.begin(), a.begin() + 100), Bytes(b.begin(), b.begin() + 100));
    CryptDestroyKey(key);
    CryptReleaseContext(prov, 0);
}

TEST_F(CspApi, ProvidersWorkFromSeveralThreads) {
    for (int i = 0; i < 3; ++i) {
        HCRYPTPROV p = newContainer("t" + std::to_string(i), 80);
        ASSERT_NE(p, 0u);
        CryptReleaseContext(p, 0);
    }
    std::vector<std::thread> threads;
    std::vector<int> ok(3, 0);
    for (int i = 0; i < 3; ++i) {
        threads.emplace_back([i, &ok] {
            HCRYPTPROV p = 0;
            if (!CryptAcquireContextA(&p, ("t" + std::to_string(i)).c_str(), nullptr, 80, 0)) return;
            const Bytes pub = userPublicBlob(p);
            HCRYPTKEY verifyKey = 0;
            CryptImportKey(p, pub.data(), static_cast<DWORD>(pub.size()), 0, 0, &verifyKey);
            int good = 0;
            for (int j = 0; j < 20; ++j) {
                const Bytes data = bytesOf("message " + std::to_string(j));
                const Bytes sig = signData(p, CALG_GR3411_2012_256, data);
                HCRYPTHASH h = 0;
                CryptCreateHash(p, CALG_GR3411_2012_256, 0, 0, &h);
                CryptHashData(h, data.data(), static_cast<DWORD>(data.size()), 0);
                good += CryptVerifySignatureA(h, sig.data(), static_cast<DWORD>(sig.size()), verifyKey, nullptr, 0);
                CryptDestroyHash(h);
            }
            ok[static_cast<std::size_t>(i)] = good;
            CryptReleaseContext(p, 0);
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(ok, (std::vector<int>{20, 20, 20}));
}

TEST_F(CspApi, CertificateStores) {
    const WCHAR book[] = {'A', 'd', 'd', 'r', 'e', 's', 's', 'B', 'o', 'o', 'k', 0};
    const WCHAR bad[] = {'.', '.', 0};
    EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, X509_ASN_ENCODING, 0, CERT_SYSTEM_STORE_CURRENT_USER, bad),
              nullptr);
    EXPECT_EQ(CertOpenStore(reinterpret_cast<LPCSTR>(2), X509_ASN_ENCODING, 0, CERT_SYSTEM_STORE_CURRENT_USER, book),
              nullptr);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, X509_ASN_ENCODING, 0, CERT_SYSTEM_STORE_CURRENT_USER, book);
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(CertEnumCertificatesInStore(store, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
    CertCloseStore(store, 0);
    // Foreign pointers are refused, not followed.
    int notAStore = 0;
    EXPECT_EQ(CertEnumCertificatesInStore(&notAStore, nullptr), nullptr);
    EXPECT_FALSE(CertCloseStore(&notAStore, 0));
    EXPECT_FALSE(CertFreeCertificateContext(reinterpret_cast<PCCERT_CONTEXT>(&notAStore)));
    EXPECT_EQ(CertDuplicateCertificateContext(reinterpret_cast<PCCERT_CONTEXT>(&notAStore)), nullptr);
    EXPECT_TRUE(CertFreeCertificateContext(nullptr));
    EXPECT_EQ(CertCreateCertificateContext(X509_ASN_ENCODING, reinterpret_cast<const BYTE*>("xx"), 2), nullptr);
}
