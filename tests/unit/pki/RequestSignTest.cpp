// Signing a request through the provider handle with a scripted provider:
// what is signed, where the signature goes and in which byte order, and
// what each failing step returns.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "RequestTestSupport.h"
#include "crypto/Crypto.h"
#include "pki/RequestPKCS10.h"

using reqtest::Bytes;
using reqtest::hex;
using tesel::CBlob;
using tesel::RequestPKCS10;
namespace qc = qn::crypto;

namespace {

// A provider that hands out a fixed public key and appends a fixed
// signature; everything else is unused here.
class ScriptedProvider : public qc::CryptoProviderQn {
public:
    qc::eSupportCP kind = qc::CP_CRYPTOPRO_GOST2012_256;
    unsigned szSign = 64;
    Bytes publicKey = reqtest::keyBlob256();
    unsigned publicKeyStatus = 0;
    unsigned signStatus = 0;
    Bytes signature;  // appended to the data
    mutable CBlob signedInput;

    unsigned release() override { return 0; }
    unsigned getCspVersion(std::string&) const override { return 0; }
    unsigned getPublicKeyBlob(CBlob& out) const override {
        out.init(publicKey.data(), static_cast<unsigned>(publicKey.size()));
        return publicKeyStatus;
    }
    unsigned signMessage(const CBlob& data, CBlob& out) const override {
        signedInput = data;
        if (signStatus) return signStatus;
        out = data;
        out.add(signature.data(), static_cast<unsigned>(signature.size()));
        return 0;
    }
    unsigned getUniqueContainer(std::string&) const override { return 0; }
    qc::eSupportCP getCSP() const override { return kind; }
    unsigned getSzSign() const override { return szSign; }
    unsigned encryptMessage(const CBlob&, qc::Crypto2SideInfo&, CBlob&) override { return 1; }
    unsigned encrypt(const CBlob&, qc::CryptoHandle, const CBlob&, CBlob&) override { return 1; }
    unsigned decryptMessage(const CBlob&, qc::Crypto2SideInfo&, CBlob&) override { return 1; }
    unsigned decrypt(const CBlob&, qc::CryptoHandle, const CBlob&, CBlob&) override { return 1; }
    unsigned createSessionKey(qc::CryptoHandle&, CBlob&) override { return 1; }
    unsigned addCertToContainer(const CBlob&) override { return 1; }
    unsigned importPublicKey2Side(const CBlob&, qc::Crypto2SideInfo&) override { return 1; }
    bool isValid() const override { return true; }
    unsigned verifySignMessage(const CBlob&, qc::CryptoHandle) const override { return 1; }
    unsigned getCspInfo(qc::UserCspInfo&) const override { return 1; }
    unsigned getContainersList(std::vector<std::string>&) const override { return 0; }
    unsigned getContainersAllList(std::vector<std::string>&, std::vector<std::string>&) const override {
        return 0;
    }
    std::shared_ptr<qc::CryptoProviderQn> clone() const override { return nullptr; }
    unsigned removeKeyPair(const std::string&) override { return 0; }
};

class HeldCrypto : public qc::Crypto {
public:
    explicit HeldCrypto(std::shared_ptr<qc::CryptoProviderQn> p) { m_provider = std::move(p); }
};

RequestPKCS10 filledRequest() {
    RequestPKCS10 r;
    r.fillFromClient(reqtest::makeCard(0, 1), qc::CP_CRYPTOPRO_GOST2012_256);
    return r;
}

Bytes sequence(int from, int count) {
    Bytes b;
    for (int i = 0; i < count; ++i) b.push_back(static_cast<unsigned char>(from + i));
    return b;
}

}  // namespace

TEST(RequestSign, SignatureIsCopiedOverThePlaceholderAndReversed) {
    auto provider = std::make_shared<ScriptedProvider>();
    provider->signature = sequence(0xA0, 64);  // A0 A1 ... DF in CryptoAPI order
    HeldCrypto crypto(provider);
    RequestPKCS10 r = filledRequest();
    CBlob out;
    ASSERT_EQ(crypto.signAndEncodePkcs10(r, out), 0u);

    // The signed part is the builder's CertificationRequestInfo.
    CBlob expected;
    CBlob tbs;
    Bytes key = provider->publicKey;
    ASSERT_EQ(r.createCSR(provider->kind, tesel::BLOB{static_cast<std::uint32_t>(key.size()), key.data()},
                          expected, tbs),
              0);
    EXPECT_TRUE(provider->signedInput == tbs);
    ASSERT_EQ(out.getSize(), expected.getSize());
    // Everything but the last 64 bytes is the unsigned request; those bytes
    // are the signature, last byte first.
    EXPECT_EQ(hex(out.getData(), out.getSize() - 64), hex(expected.getData(), expected.getSize() - 64));
    Bytes reversed = provider->signature;
    std::reverse(reversed.begin(), reversed.end());
    EXPECT_EQ(hex(out.getData() + out.getSize() - 64, 64), hex(reversed.data(), 64));
}

TEST(RequestSign, FailingStepsReturnTheirStatusAndNoRequest) {
    RequestPKCS10 r = filledRequest();
    CBlob out;
    auto provider = std::make_shared<ScriptedProvider>();
    provider->signature = sequence(1, 64);
    HeldCrypto crypto(provider);

    provider->publicKeyStatus = 1;
    out = CBlob(reinterpret_cast<const unsigned char*>("old"), 3);
    EXPECT_EQ(crypto.signAndEncodePkcs10(r, out), 1u);
    EXPECT_TRUE(out.isEmpty());
    provider->publicKeyStatus = 0;

    provider->signStatus = 12;
    EXPECT_EQ(crypto.signAndEncodePkcs10(r, out), 12u);
    EXPECT_TRUE(out.isEmpty());
    provider->signStatus = 0;

    // A signer that gives fewer bytes than its signature size.
    provider->signature = sequence(1, 63);
    EXPECT_EQ(crypto.signAndEncodePkcs10(r, out), 12u);
    EXPECT_TRUE(out.isEmpty());
    provider->signature = sequence(1, 64);

    // A provider whose signature size is not its kind's: the placeholder
    // could not be filled exactly.
    provider->kind = qc::CP_CRYPTOPRO_GOST2012_512;
    EXPECT_EQ(crypto.signAndEncodePkcs10(r, out), 70u);
    provider->kind = qc::CP_CRYPTOPRO_GOST2012_256;

    // The builder's own errors pass through.
    RequestPKCS10 empty;
    EXPECT_EQ(crypto.signAndEncodePkcs10(empty, out), 1u);
    provider->publicKey.pop_back();
    EXPECT_EQ(crypto.signAndEncodePkcs10(r, out), 70u);
    EXPECT_TRUE(out.isEmpty());

    EXPECT_EQ(crypto.signAndEncodePkcs10(nullptr, out), 1u);
    qc::Crypto none;
    EXPECT_EQ(none.signAndEncodePkcs10(r, out), 3u);
}
