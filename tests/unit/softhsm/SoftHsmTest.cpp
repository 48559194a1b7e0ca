// The token provider's paths that need no GOST mechanisms, against a
// foreign module: Debian's SoftHSM2 serves both device types (its token has
// the Rutoken default PIN). Key pairs are made with pkcs11-tool (EC keys:
// the module has no GOST), certificates with OpenSSL's GOST engine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "GostOracle.h"
#include "crypto/CryptoP11.h"
#include "crypto/UserCerts.h"
#include "errors/eErrCodes.h"

using namespace qn::crypto;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<unsigned char>;
const unsigned kOk = ERR_OK;
std::string g_dir;

int run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::string tool() { return std::string("pkcs11-tool --module ") + SOFTHSM_MODULE + " --login --pin 58203716 "; }

class Environment : public ::testing::Environment {
public:
    void SetUp() override {
        char tmpl[] = "/tmp/pellamo-softhsm-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        g_dir = tmpl;
        fs::create_directories(g_dir + "/tokens");
        std::ofstream(g_dir + "/softhsm2.conf")
            << "directories.tokendir = " << g_dir << "/tokens\nobjectstore.backend = file\nlog.level = ERROR\n";
        setenv("SOFTHSM2_CONF", (g_dir + "/softhsm2.conf").c_str(), 1);
        setenv("PELLAMO_PKCS11_RUTOKEN", SOFTHSM_MODULE, 1);
        setenv("PELLAMO_PKCS11_JACARTA", SOFTHSM_MODULE, 1);
        ASSERT_EQ(run("softhsm2-util --init-token --free --label 'Pellamo HSM' --pin 58203716 --so-pin 12345678"), 0);
        // Two key pairs under one label, and one whose ID is its label.
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(run(tool() + "--keypairgen --key-type EC:prime256v1 --label twin --id 0" + std::to_string(i + 1)),
                      0);
        }
        ASSERT_EQ(run(tool() + "--keypairgen --key-type EC:prime256v1 --label holder --id 686f6c646572"), 0);
        ASSERT_EQ(run(tool() + "--keypairgen --key-type EC:prime256v1 --label lonely --id 10"), 0);
        ASSERT_EQ(run(tool() + "--delete-object --type privkey --id 10"), 0);
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(g_dir, ec);
    }
};

::testing::Environment* const env = ::testing::AddGlobalTestEnvironment(new Environment);

std::unique_ptr<CryptoP11> open(eSupportCP kind, unsigned& r) {
    CryptoP11* raw = nullptr;
    r = CryptoP11::init(kind, &raw);
    return std::unique_ptr<CryptoP11>(raw);
}

std::unique_ptr<CryptoP11> open(const std::string& name, eSupportCP kind, unsigned& r) {
    CryptoP11* raw = nullptr;
    r = CryptoP11::init(name, kind, &raw);
    return std::unique_ptr<CryptoP11>(raw);
}

}  // namespace

TEST(SoftHsmTest, SlotsLoginAndPins) {
    unsigned r = 0;
    auto p = open(CP_RUTOKEN_GOST, r);
    ASSERT_EQ(r, kOk);
    EXPECT_TRUE(p->isValid());
    UserCspInfo info;
    ASSERT_EQ(p->getCspInfo(info), kOk);
    EXPECT_EQ(info.getLabel(), "Pellamo HSM" + std::string(21, ' '));
    EXPECT_EQ(info.getModel().size(), 16u);
    // A second provider finds the user logged in already: still success.
    auto second = open(CP_RUTOKEN_GOST2012_256, r);
    EXPECT_EQ(r, kOk);
    second.reset();
    p.reset();
    // The same module as the JaCarta library: initialised once, and the
    // JaCarta default PIN is not this token's.
    open(CP_JACARTA_GOST, r);
    EXPECT_EQ(r, static_cast<unsigned>(ERR_DEFAULT_PIN_REJECTED));
    // Not a "JaCarta GOST 2.0": no slot for a 2012 JaCarta kind.
    open(CP_JACARTA_GOST2012_256, r);
    EXPECT_EQ(r, static_cast<unsigned>(ERR_DEVICE_NOT_FOUND));
    // No GOST key generation on this module.
    CryptoP11* raw = nullptr;
    EXPECT_EQ(CryptoP11::create("new", CP_RUTOKEN_GOST, &raw), static_cast<unsigned>(ERR_CREATE_KEY_PAIR));
    delete raw;
}

TEST(SoftHsmTest, KeyPairsByLabel) {
    unsigned r = 0;
    open("twin", CP_RUTOKEN_GOST, r);
    EXPECT_EQ(r, static_cast<unsigned>(ERR_MORE_THAN_ONE_KEY_PAIR));
    open("lonely", CP_RUTOKEN_GOST, r);
    EXPECT_EQ(r, static_cast<unsigned>(ERR_KEY_PAIR_NOT_FOUND));  // no private key
    open("nobody", CP_RUTOKEN_GOST, r);
    EXPECT_EQ(r, static_cast<unsigned>(ERR_KEY_PAIR_NOT_FOUND));
    auto p = open("holder", CP_RUTOKEN_GOST, r);
    ASSERT_EQ(r, kOk);
    EXPECT_NE(p->getPublicKeyHandle(), 0u);
    EXPECT_NE(p->getPrivateKeyHandle(), 0u);
    std::vector<std::string> names;
    ASSERT_EQ(p->getContainersList(names), kOk);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"holder", "lonely", "twin", "twin"}));
}

TEST(SoftHsmTest, CertificateObjectsListAndFindTheirKeys) {
    unsigned r = 0;
    auto p = open("holder", CP_RUTOKEN_GOST, r);
    ASSERT_EQ(r, kOk);
    const oracle::KeyPtr ca = oracle::generate(oracle::Kind::G2001, "A");
    const oracle::KeyPtr subject = oracle::generate(oracle::Kind::G2001, "A");
    const Bytes spki =
        oracle::spkiDer(oracle::Kind::G2001, oracle::spkiParams(subject), oracle::rawPublic(subject));
    std::vector<Bytes> ders;
    for (long i = 0; i < 12; ++i) {
        ders.push_back(oracle::issueCertificate(ca, spki, "Holder " + std::to_string(i), 900 + i, 365));
        ASSERT_EQ(p->addCertToContainer(tesel::CBlob(ders.back().data(), static_cast<unsigned>(ders.back().size()))),
                  kOk);
    }
    // Twelve certificates: the first ten are listed.
    std::map<unsigned, const CERT_CONTEXT*> certs;
    ASSERT_EQ(loadUserCerts(tesel::CERT_STORE_RUTOKEN, certs), kOk);
    ASSERT_EQ(certs.size(), 10u);
    // A listed certificate opens the container whose ID it carries.
    CryptoP11* raw = nullptr;
    ASSERT_EQ(CryptoP11::init(certs[0], tesel::CERT_STORE_RUTOKEN, &raw), kOk);
    std::unique_ptr<CryptoP11> byCert(raw);
    EXPECT_EQ(byCert->getCSP(), CP_RUTOKEN_GOST);
    EXPECT_EQ(byCert->getPublicKeyHandle(), p->getPublicKeyHandle());
    std::string unique;
    byCert->getUniqueContainer(unique);
    EXPECT_EQ(unique, "holder");
    for (auto& [i, c] : certs) {
        CertFreeCertificateContext(c);
    }
    // More than three objects carry the label: remove keeps them all.
    EXPECT_EQ(CryptoP11::remove("holder", CP_RUTOKEN_GOST), kOk);
    open("holder", CP_RUTOKEN_GOST, r);
    EXPECT_EQ(r, kOk);
}
