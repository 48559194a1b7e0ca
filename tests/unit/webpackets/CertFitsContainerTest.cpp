// A certificate goes into a container only when its public key is the
// container's key (command 152 and the controller behind 126), and command
// 122 creates no container for a provider kind the program does not know.
#include "CommandTestSupport.h"
#include "errors/eErrCodes.h"
#include "webpackets/ControllerClientQn.h"

using namespace cmdtest;
using qn::crypto::CP_CRYPTOPRO_GOST2012_256;
using qn::crypto::eSupportCP;

namespace {

class CertFitsContainer : public CommandTest {
protected:
    static tesel::CBlob uploadPayload(const Bytes& cert, const std::string& container, eSupportCP kind) {
        const tesel::CBlob der(cert.data(), static_cast<unsigned>(cert.size()));
        tesel::CBlob b(tesel::CBlob::sizeOf(der) + tesel::CBlob::sizeOf(container) + tesel::CBlob::sizeOfInt());
        b.serialize(&der);
        b.serialize(container);
        b.serialize(static_cast<int>(kind));
        return b;
    }
    static testca::CertFields fields(const std::string& cn) {
        testca::CertFields f;
        f.subject = {{"2.5.4.3", testca::UTF8, cn}};
        return f;
    }
};

}  // namespace

TEST_F(CertFitsContainer, ACertificateForAnotherKeyIsRefusedAndNothingChanges) {
    const Bytes mine = userCert("mine", CP_CRYPTOPRO_GOST2012_256, fields("Mine"));
    const Bytes other = userCert("other", CP_CRYPTOPRO_GOST2012_256, fields("Other"));
    ASSERT_FALSE(mine.empty());
    ASSERT_FALSE(other.empty());

    const Reply refused = run(152, uploadPayload(other, "mine", CP_CRYPTOPRO_GOST2012_256));
    EXPECT_EQ(refused.answer, 153u);
    EXPECT_EQ(refused.result, static_cast<unsigned>(ERR_CONTAINER_ADD_CERT));
    // The container's key is still there and still takes its own certificate.
    const Reply fits = run(152, uploadPayload(mine, "mine", CP_CRYPTOPRO_GOST2012_256));
    EXPECT_EQ(fits.result, 0u);

    // Through the controller as well; an undecodable certificate is 44.
    ControllerClientQn qn;
    EXPECT_EQ(qn.uploadCertToContainer(tesel::CBlob(other.data(), static_cast<unsigned>(other.size())), "mine",
                                       CP_CRYPTOPRO_GOST2012_256),
              static_cast<unsigned>(ERR_CONTAINER_ADD_CERT));
    EXPECT_EQ(qn.uploadCertToContainer(test_bytes::blobOf("\x30\x03\x02\x01\x01"), "mine", CP_CRYPTOPRO_GOST2012_256),
              static_cast<unsigned>(ERR_CERT_DAMAGED));
}

TEST_F(CertFitsContainer, RequestWithAnUnknownKindMakesNoContainer) {
    ControllerClientQn& qn = ControllerClientQn::instance();
    const tesel::CClient saved = qn.getClientInfo();
    qn.withClientInfo([](tesel::CClient& c) { c.setCSP(static_cast<eSupportCP>(5)); });
    const std::string name = "unknown kind";
    tesel::CBlob payload(tesel::CBlob::sizeOf(name));
    payload.serialize(name);
    const Reply r = run(122, payload);
    EXPECT_EQ(r.answer, 123u);
    EXPECT_EQ(r.result, static_cast<unsigned>(ERR_INTERNAL));
    qn::crypto::Crypto1By1Connect* raw = nullptr;
    const unsigned opened = qn::crypto::Crypto1By1Connect::init(name, CP_CRYPTOPRO_GOST2012_256, &raw);
    delete raw;
    EXPECT_NE(opened, 0u) << "no container was created";
    qn.setClientInfo(saved);
}
