// The CA certificate pins of a deployment: the SHA-256 the program computes
// for them, the fingerprint list as a deployment writes it, and the start-up
// answer to an empty or malformed list.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/Deployment.h"
#include "core/Sha256.h"

namespace {

std::string hex(const tesel::Sha256Digest& d) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char b : d) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

tesel::Sha256Digest of(const std::string& text) {
    return tesel::sha256(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

// Known answers, with the lengths around the padding's block boundary.
TEST(Sha256Test, KnownAnswers) {
    EXPECT_EQ(hex(of("")), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex(of("abc")), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex(of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),  // 56 bytes: two blocks
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(hex(of(std::string(55, 'a'))), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
    EXPECT_EQ(hex(of(std::string(64, 'a'))), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb");
    EXPECT_EQ(hex(of(std::string(1000000, 'a'))), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

const std::string kA = "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";
const std::string kB = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

TEST(CaCertPinsTest, ListsAsDeploymentsWriteThem) {
    std::vector<tesel::Sha256Digest> pins;
    std::string message;
    ASSERT_TRUE(deployment::parseFingerprints(kA, pins, message)) << message;
    ASSERT_EQ(pins.size(), 1u);
    EXPECT_EQ(pins[0], of("")) << "upper case reads as lower case";
    ASSERT_TRUE(deployment::parseFingerprints(" " + kA + ",\t" + kB + " ,\n", pins, message)) << message;
    ASSERT_EQ(pins.size(), 2u);
    EXPECT_EQ(pins[1], of("abc"));
    ASSERT_TRUE(deployment::parseFingerprints(" , ", pins, message));
    EXPECT_TRUE(pins.empty());
}

TEST(CaCertPinsTest, MalformedValuesAreRefusedAndNamed) {
    const std::vector<tesel::Sha256Digest> before{of("x")};
    for (const std::string& bad : std::vector<std::string>{kA.substr(1), kA + "0", kA.substr(0, 63) + "g", kA + ";" + kB,
                                  "sha256:" + kA, kA + "," + "12"}) {
        SCOPED_TRACE(bad);
        std::vector<tesel::Sha256Digest> pins = before;
        std::string message;
        EXPECT_FALSE(deployment::parseFingerprints(bad, pins, message));
        EXPECT_EQ(pins, before) << "nothing is taken from a refused list";
        EXPECT_NE(message.find("PELLAMO_CA_CERT_SHA256"), std::string::npos) << message;
    }
}

TEST(CaCertPinsTest, TheEnvironmentDecidesAtStart) {
    std::vector<tesel::Sha256Digest> pins;
    std::string message;
    setenv("PELLAMO_CA_CERT_SHA256", "", 1);
    EXPECT_TRUE(deployment::trustedCAFingerprints(pins, message));
    EXPECT_TRUE(pins.empty());
    EXPECT_NE(message.find("warning"), std::string::npos) << "an empty list runs, with one warning";

    setenv("PELLAMO_CA_CERT_SHA256", (kA + " " + kB).c_str(), 1);
    EXPECT_TRUE(deployment::trustedCAFingerprints(pins, message));
    EXPECT_EQ(pins.size(), 2u);
    EXPECT_TRUE(message.empty()) << message;

    setenv("PELLAMO_CA_CERT_SHA256", "not-a-fingerprint", 1);
    EXPECT_FALSE(deployment::trustedCAFingerprints(pins, message));
    EXPECT_NE(message.find("not-a-fingerprint"), std::string::npos) << message;
    unsetenv("PELLAMO_CA_CERT_SHA256");
}

}  // namespace
