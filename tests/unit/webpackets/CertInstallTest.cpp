// A released certificate installed into "MY" carries the name of its key
// container (CERT_KEY_PROV_INFO_PROP_ID), as CryptoAPI needs it to find the
// key when the user logs in with the certificate; a token's certificate
// carries none. The name survives reopening the store, and a name that no
// longer opens a container makes the key lookup fail rather than fall back
// to another container.
#include <filesystem>
#include <string>
#include <vector>

#include "crypto/CertTestSupport.h"
#include "crypto/GostOracle.h"
#include "errors/eErrCodes.h"
#include "webpackets/ControllerClientQn.h"

using namespace certtest;

namespace {

constexpr DWORD kType = PROV_GOST_2012_256;
constexpr auto kKind = qn::crypto::CP_CRYPTOPRO_GOST2012_256;

class CertInstallTest : public testutil::CspDirTest {
protected:
    // A certificate for the key of the container (left open in m_prov).
    Bytes certificateFor(const std::string& container, Bytes serial) {
        m_prov = testutil::newContainer(container, kType);
        EXPECT_NE(m_prov, 0u) << container;
        const Bytes blob = testutil::userPublicBlob(m_prov);
        EXPECT_GT(blob.size(), 16u + 64u);
        testca::CertFields fields;
        fields.subject = {{"2.5.4.3", testca::UTF8, "Installed"}};
        fields.serial = std::move(serial);
        fields.subjectSpki = oracle::spkiDer(oracle::Kind::G2012_256, Bytes(blob.begin() + 16, blob.end() - 64),
                                             Bytes(blob.end() - 64, blob.end()));
        return ca2012().issue(fields);
    }
    void TearDown() override {
        if (m_prov) CryptReleaseContext(m_prov, 0);
        CspDirTest::TearDown();
    }

    // The one certificate of "MY", freshly read from its folder.
    static Ctx storedCertificate() {
        HCERTSTORE my = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, X509_ASN_ENCODING, 0, CERT_SYSTEM_STORE_CURRENT_USER,
                                      u"MY");
        EXPECT_NE(my, nullptr);
        const CERT_CONTEXT* first = CertEnumCertificatesInStore(my, nullptr);
        Ctx held(first ? CertDuplicateCertificateContext(first) : nullptr);
        if (first) {
            EXPECT_EQ(CertEnumCertificatesInStore(my, first), nullptr) << "one certificate expected";
        }
        CertCloseStore(my, 0);
        return held;
    }

    // The property as CryptoAPI lays it out, read with the size query.
    static bool keyProvInfo(const CERT_CONTEXT* cert, std::vector<unsigned char>& buffer) {
        DWORD n = 0;
        if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &n)) return false;
        buffer.assign(n, 0);
        return CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &n) != FALSE;
    }

    std::vector<std::filesystem::path> storeFiles(const std::string& extension) const {
        std::vector<std::filesystem::path> out;
        for (const auto& e : std::filesystem::directory_iterator(dir() + "/stores/MY")) {
            if (e.path().extension() == extension) out.push_back(e.path());
        }
        return out;
    }

    HCRYPTPROV m_prov = 0;
};

std::string containerOf(HCRYPTPROV prov) {
    char name[256] = {};
    DWORD n = sizeof name;
    return CryptGetProvParam(prov, PP_CONTAINER, reinterpret_cast<BYTE*>(name), &n, 0) ? std::string(name) : "";
}

}  // namespace

TEST_F(CertInstallTest, InstalledCertificateFindsItsKeyThroughItsContainerName) {
    // A CP1251 name with the characters the stored form has to escape.
    const std::string name = ansi("Ключ 50% = мой");
    const Bytes cert = certificateFor(name, {0x61, 0x01});
    ASSERT_EQ(ControllerClientQn::addCertToPersonalStore(blobOf(cert), name, kKind), 0u);

    Ctx stored = storedCertificate();
    ASSERT_TRUE(stored);
    std::vector<unsigned char> buffer;
    ASSERT_TRUE(keyProvInfo(stored.get(), buffer));
    const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    ASSERT_NE(info->pwszContainerName, nullptr);
    EXPECT_EQ(tesel::convertToChar(info->pwszContainerName), name);
    EXPECT_EQ(info->pwszContainerName[0], u'К') << "UTF-16, not the ANSI bytes widened";
    EXPECT_EQ(info->pwszProvName, nullptr) << "the default provider of the type";
    EXPECT_EQ(info->dwProvType, kType);
    EXPECT_EQ(info->dwKeySpec, static_cast<DWORD>(AT_KEYEXCHANGE));
    EXPECT_EQ(info->cProvParam, 0u);

    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE prov = 0;
    DWORD keySpec = 0;
    BOOL mustFree = FALSE;
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(stored.get(), 0, nullptr, &prov, &keySpec, &mustFree));
    EXPECT_EQ(containerOf(prov), name);
    EXPECT_EQ(keySpec, static_cast<DWORD>(AT_KEYEXCHANGE));
    EXPECT_TRUE(mustFree);
    CryptReleaseContext(prov, 0);
    EXPECT_EQ(storeFiles(".keyprov").size(), 1u);
}

TEST_F(CertInstallTest, ANameThatOpensNoContainerFails) {
    const Bytes cert = certificateFor("real key", {0x61, 0x02});
    ASSERT_EQ(ControllerClientQn::addCertToPersonalStore(blobOf(cert), "real key", kKind), 0u);
    CryptReleaseContext(m_prov, 0);
    m_prov = 0;
    HCRYPTPROV gone = 0;
    ASSERT_TRUE(CryptAcquireContextA(&gone, "real key", nullptr, kType, CRYPT_DELETEKEYSET));
    Ctx stored = storedCertificate();
    ASSERT_TRUE(stored);
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE prov = 0;
    EXPECT_FALSE(CryptAcquireCertificatePrivateKey(stored.get(), 0, nullptr, &prov, nullptr, nullptr));

    // The name decides even while another container holds the same key:
    // a copy of the key elsewhere is not this certificate's container.
    const Bytes other = certificateFor("holder", {0x61, 0x03});
    Ctx ctx = ctxOf(other);
    std::u16string missing = u"missing";
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = missing.data();
    info.dwProvType = kType;
    info.dwKeySpec = AT_KEYEXCHANGE;
    ASSERT_TRUE(CertSetCertificateContextProperty(ctx.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
    EXPECT_FALSE(CryptAcquireCertificatePrivateKey(ctx.get(), 0, nullptr, &prov, nullptr, nullptr));
    ASSERT_TRUE(CertSetCertificateContextProperty(ctx.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, nullptr));
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(ctx.get(), 0, nullptr, &prov, nullptr, nullptr))
        << "without the property the key is found by its public key";
    EXPECT_EQ(containerOf(prov), "holder");
    CryptReleaseContext(prov, 0);
}

TEST_F(CertInstallTest, TokenCertificateNamesNoContainer) {
    const Bytes cert = certificateFor("on token", {0x61, 0x04});
    ASSERT_EQ(ControllerClientQn::addCertToPersonalStore(blobOf(cert), "on token", qn::crypto::CP_RUTOKEN_GOST2012_256),
              0u);
    Ctx stored = storedCertificate();
    ASSERT_TRUE(stored);
    DWORD n = 0;
    EXPECT_FALSE(CertGetCertificateContextProperty(stored.get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &n));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_NOT_FOUND));
    EXPECT_TRUE(storeFiles(".keyprov").empty());
}

TEST_F(CertInstallTest, InstallingACertificateAlreadyInTheStoreLinksIt) {
    // Placed in the folder directly, as a user's tool or a test would.
    const Bytes cert = certificateFor("late link", {0x61, 0x05});
    std::filesystem::create_directories(dir() + "/stores/MY");
    {
        std::FILE* f = std::fopen((dir() + "/stores/MY/00000001-" + std::string(40, 'a') + ".der").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(cert.data(), 1, cert.size(), f);
        std::fclose(f);
    }
    ASSERT_EQ(ControllerClientQn::addCertToPersonalStore(blobOf(cert), "late link", kKind), 0u);
    Ctx stored = storedCertificate();
    ASSERT_TRUE(stored);
    std::vector<unsigned char> buffer;
    ASSERT_TRUE(keyProvInfo(stored.get(), buffer));
    EXPECT_EQ(tesel::convertToChar(reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data())->pwszContainerName),
              "late link");
    EXPECT_EQ(storeFiles(".der").size(), 1u) << "the same certificate is not stored twice";

    // A damaged link file is no link: the key is found the old way.
    const auto links = storeFiles(".keyprov");
    ASSERT_EQ(links.size(), 1u);
    std::filesystem::resize_file(links[0], 10);
    Ctx reread = storedCertificate();
    ASSERT_TRUE(reread);
    DWORD n = 0;
    EXPECT_FALSE(CertGetCertificateContextProperty(reread.get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &n));
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE prov = 0;
    ASSERT_TRUE(CryptAcquireCertificatePrivateKey(reread.get(), 0, nullptr, &prov, nullptr, nullptr));
    EXPECT_EQ(containerOf(prov), "late link");
    CryptReleaseContext(prov, 0);
}

TEST_F(CertInstallTest, PropertyBufferSizeQuery) {
    const Bytes cert = certificateFor("sized", {0x61, 0x06});
    Ctx ctx = ctxOf(cert);
    std::u16string name = u"sized", provider = u"Some Provider";
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = name.data();
    info.pwszProvName = provider.data();
    info.dwProvType = kType;
    info.dwKeySpec = AT_SIGNATURE;
    ASSERT_TRUE(CertSetCertificateContextProperty(ctx.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
    DWORD n = 0;
    ASSERT_TRUE(CertGetCertificateContextProperty(ctx.get(), CERT_KEY_PROV_INFO_PROP_ID, nullptr, &n));
    EXPECT_EQ(n, sizeof(CRYPT_KEY_PROV_INFO) + (name.size() + 1 + provider.size() + 1) * sizeof(WCHAR));
    std::vector<unsigned char> small(n - 1);
    DWORD smallN = n - 1;
    EXPECT_FALSE(CertGetCertificateContextProperty(ctx.get(), CERT_KEY_PROV_INFO_PROP_ID, small.data(), &smallN));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(smallN, n);
    std::vector<unsigned char> buffer;
    ASSERT_TRUE(keyProvInfo(ctx.get(), buffer));
    const auto* got = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
    EXPECT_EQ(std::u16string(got->pwszProvName), provider);
    EXPECT_EQ(got->dwKeySpec, static_cast<DWORD>(AT_SIGNATURE));
}
