// Edge cases of the certificate request controller that need no CA: missing
// CSP, connection or container, undecodable certificates, and the card and
// PIN used from several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "errors/eErrCodes.h"
#include "helpers/ByteStrings.h"
#include "webpackets/ControllerClientQn.h"

namespace {

class RequestControllers : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/pellamo-qn-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        setenv("PELLAMO_CSP_DIR", m_dir.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
        unsetenv("PELLAMO_CSP_DIR");
    }
    std::string m_dir;
};

}  // namespace

TEST_F(RequestControllers, StepsWithoutTheirPrerequisites) {
    ControllerClientQn qn;
    tesel::CBlob out;
    std::string name;
    tesel::CClient card;  // no CSP chosen
    EXPECT_EQ(qn.buildCreateClientP10Packet(out), static_cast<unsigned>(ERR_CSP_NOT_INITIALIZED));
    card.setCSP(qn::crypto::CP_CRYPTOPRO_GOST2012_256);
    EXPECT_EQ(qn.buildCreateClientP10Packet(nullptr, card, out), static_cast<unsigned>(ERR_CSP_NOT_INITIALIZED));
    EXPECT_EQ(qn.buildPkcs10QnRequest(test_bytes::blobOf("p10"), "PIN", out),
              static_cast<unsigned>(ERR_CSP_NOT_INITIALIZED));
    EXPECT_EQ(qn.getContainerFullPath(name), static_cast<unsigned>(ERR_CSP_NOT_INITIALIZED));
    EXPECT_TRUE(out.isEmpty());

    // A container that does not exist is not opened, and nothing becomes current.
    EXPECT_EQ(qn.uploadCertToContainer(test_bytes::blobOf("cert"), "missing", qn::crypto::CP_CRYPTOPRO_GOST2012_256),
              static_cast<unsigned>(ERR_CONTAINER_OPEN));
    EXPECT_EQ(qn.decryptReleasedCert(test_bytes::blobOf("packet"), "missing", qn::crypto::CP_CRYPTOPRO, out),
              static_cast<unsigned>(ERR_CONTAINER_OPEN));
    EXPECT_EQ(qn.initCrypto("missing", qn::crypto::CP_NONE), static_cast<unsigned>(ERR_INTERNAL));
    EXPECT_EQ(qn.getCrypto(), nullptr);

    EXPECT_EQ(ControllerClientQn::addCertToPersonalStore(tesel::CBlob(), "c", qn::crypto::CP_CRYPTOPRO_GOST2012_256),
              static_cast<unsigned>(ERR_CERT_DAMAGED));
    EXPECT_EQ(ControllerClientQn::addCertToPersonalStore(test_bytes::blobOf("\x30\x03\x02\x01\x01"), "c",
                                                         qn::crypto::CP_CRYPTOPRO_GOST2012_256),
              static_cast<unsigned>(ERR_CERT_DAMAGED));
}

TEST_F(RequestControllers, CardAndPinAreWholeUnderConcurrentUse) {
    ControllerClientQn qn;
    std::vector<std::thread> threads;
    std::atomic<int> torn{0};
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                tesel::CClient card;
                const std::string value(64 + t, static_cast<char>('a' + t));
                card.setSurname(value);
                card.setINN(value);
                qn.setClientInfo(card);
                qn.setPin(value);
                const tesel::CClient read = qn.getClientInfo();
                if (read.getSurname() != read.getINN()) ++torn;
                qn.withClientInfo([&](tesel::CClient& c) { c.addEnhOid(value); });
                if (qn.getPin().size() < 64) ++torn;
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(torn.load(), 0);
}
