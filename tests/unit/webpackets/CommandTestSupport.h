// Shared pieces of the command tests: requests through the command table,
// reply readers, and a user's certificate whose key lives in a container of
// the test's own key folder, issued by the independent test CA.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "crypto/CertTestSupport.h"
#include "app/Settings.h"
#include "core/CBlob.h"
#include "helpers/ByteStrings.h"
#include "crypto/ControllerPKIClient.h"
#include "crypto/Crypto1By1Connect.h"
#include "crypto/CryptoCert.h"
#include "server/dispatch/processPacket.h"

namespace cmdtest {

using Bytes = std::vector<unsigned char>;
using certtest::Ctx;

struct Reply {
    unsigned answer = 0;
    unsigned result = 0;
    tesel::CBlob payload;  // everything behind the result, cursor 0
    bool sent = false;
};

// Sends command with payload through the command table.
inline Reply run(unsigned command, const tesel::CBlob& payload = tesel::CBlob()) {
    const std::string uid = "t";
    tesel::CBlob request(tesel::CBlob::sizeOf(uid) + 8 + payload.getSize());
    request.serialize(uid);
    request.serialize(1u);
    request.serialize(command);
    request.serialize(payload.getData(), payload.getSize());
    request.moveOffset(0);
    tesel::CBlob out;
    EXPECT_EQ(processPacket(request, out), 0);
    Reply reply;
    if (out.isEmpty()) return reply;
    reply.sent = true;
    std::string echoed;
    unsigned format = 0;
    out.deserialize(&echoed);
    out.deserialize(format);
    out.deserialize(reply.answer);
    out.deserialize(reply.result);
    EXPECT_FALSE(out.isMalformed());
    EXPECT_EQ(echoed, uid);
    reply.payload = tesel::CBlob(out.getData() + out.getOffset(), out.remaining());
    return reply;
}

// Payload builders.
inline tesel::CBlob u32s(std::initializer_list<unsigned> values) {
    tesel::CBlob b(4 * static_cast<unsigned>(values.size()));
    for (unsigned v : values) b.serialize(v);
    return b;
}
inline tesel::CBlob blobs(std::initializer_list<const tesel::CBlob*> parts) {
    unsigned size = 0;
    for (const tesel::CBlob* p : parts) size += tesel::CBlob::sizeOf(*p);
    tesel::CBlob b(size);
    for (const tesel::CBlob* p : parts) b.serialize(p);
    return b;
}

inline Bytes bytesOf(const tesel::CBlob& b) { return Bytes(b.getData(), b.getData() + b.getSize()); }

// GOST class of a CryptoAPI provider kind.
inline oracle::Kind classOf(qn::crypto::eSupportCP kind) {
    if (kind == qn::crypto::CP_CRYPTOPRO_GOST2012_512) return oracle::Kind::G2012_512;
    if (kind == qn::crypto::CP_CRYPTOPRO_GOST2012_256) return oracle::Kind::G2012_256;
    return oracle::Kind::G2001;
}

// A container with a new key of kind, opened.
inline std::shared_ptr<qn::crypto::Crypto1By1Connect> newContainer(const std::string& name,
                                                                   qn::crypto::eSupportCP kind) {
    qn::crypto::Crypto1By1Connect* raw = nullptr;
    const unsigned r = qn::crypto::Crypto1By1Connect::create(name, kind, &raw);
    std::shared_ptr<qn::crypto::Crypto1By1Connect> c(raw);
    EXPECT_EQ(r, 0u) << name;
    return c;
}

// SubjectPublicKeyInfo of a connection's key, from its PUBLICKEYBLOB.
inline Bytes spkiOf(const qn::crypto::Crypto1By1Connect& c, oracle::Kind kind) {
    tesel::CBlob blob;
    EXPECT_EQ(c.getPublicKey(blob), 0u);
    const unsigned keyBytes = kind == oracle::Kind::G2012_512 ? 128 : 64;
    const Bytes all = bytesOf(blob);
    const Bytes params(all.begin() + 16, all.end() - keyBytes);
    const Bytes raw(all.end() - keyBytes, all.end());
    return oracle::spkiDer(kind, params, raw);
}

// Puts a certificate into the personal store "MY".
inline void addToMY(const CERT_CONTEXT* cert) {
    tesel::CryptoCert my;
    ASSERT_TRUE(my.openStore(tesel::kStoreMY));
    ASSERT_TRUE(my.addCertToStore(cert));
}

// Each test gets its own key folder, the test CAs as the CA certificates of
// the pairing (cached, so nothing is fetched), trusted roots naming both CAs,
// store 0, and an empty certificate list.
class CommandTest : public testutil::CspDirTest {
protected:
    void SetUp() override {
        CspDirTest::SetUp();
        setRootCACerts(certtest::rootsOf({certtest::ca2012().keyId(), certtest::ca2001().keyId(),
                                          caFor(qn::crypto::CP_CRYPTOPRO_GOST2012_512).keyId()}));
        auto& pki = qn::crypto::ControllerPKIClient::instance();
        pki.setCertStore(tesel::CERT_STORE_SYSTEM);
        pki.setUserCerts({});
        pki.setUserCert(0xFFFFFFFFu);
        useCA(certtest::ca2012());
    }
    void TearDown() override {
        setRootCACerts(tesel::CBlob());
        qn::crypto::ControllerPKIClient::instance().setUserCerts({});
        CspDirTest::TearDown();
    }
    // The CA certificate that pairing uses: one cached at a time.
    static void useCA(const testca::TestCA& ca) {
        Ctx cert = certtest::ctxOf(ca.selfCertificate({0x4C, 0x01}));
        qn::crypto::ControllerPKIClient::instance().setCACertificate(cert.get());
    }
    // The CA of a kind: keys agree only on one curve size, so a 512-bit
    // user key pairs with a 512-bit CA.
    static const testca::TestCA& caFor(qn::crypto::eSupportCP kind) {
        static testca::TestCA ca512(oracle::Kind::G2012_512, "Test CA 2012/512");
        if (kind == qn::crypto::CP_CRYPTOPRO) return certtest::ca2001();
        return kind == qn::crypto::CP_CRYPTOPRO_GOST2012_512 ? ca512 : certtest::ca2012();
    }
    // A certificate for a new container's key, issued by the CA of the
    // kind, put into "MY"; that CA becomes the one of the pairing.
    Bytes userCert(const std::string& container, qn::crypto::eSupportCP kind, testca::CertFields fields) {
        auto key = newContainer(container, kind);
        if (!key) return {};
        fields.subjectSpki = spkiOf(*key, classOf(kind));
        m_lastSpki = fields.subjectSpki;
        const testca::TestCA& ca = caFor(kind);
        useCA(ca);
        const Bytes der = ca.issue(fields);
        Ctx cert = certtest::ctxOf(der);
        addToMY(cert.get());
        return der;
    }
    Bytes m_lastSpki;  // the key of the last userCert
};

}  // namespace cmdtest
