// Signatures computed on OpenSSL's curve arithmetic and on libgcrypt's must
// be interchangeable on every curve the provider knows, and both must turn
// away the same damaged signatures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CspTestSupport.h"
#include "softgost/gost/GostEc.h"
#include "softgost/gost/GostEcOpenssl.h"

using namespace testutil;

namespace {

const char* const kCurveOids[] = {
    "1.2.643.2.2.35.1",    "1.2.643.2.2.35.2",    "1.2.643.2.2.35.3",    "1.2.643.7.1.2.1.1.1",
    "1.2.643.7.1.2.1.2.1", "1.2.643.7.1.2.1.2.2", "1.2.643.7.1.2.1.2.3",
};

struct Keys {
    plcsp::Mpi d;
    std::vector<unsigned char> pub;
};

Keys keysOn(const plcsp::CurveInfo& curve) {
    Keys k;
    EXPECT_TRUE(plcsp::ecGenerate(curve, k.d, k.pub));
    return k;
}

}  // namespace

TEST(GostEcPaths, EachImplementationVerifiesTheOther) {
    for (const char* oid : kCurveOids) {
        SCOPED_TRACE(oid);
        const plcsp::CurveInfo* curve = plcsp::curveOfOid(oid);
        ASSERT_NE(curve, nullptr);
        Keys keys = keysOn(*curve);
        const std::size_t n = 2 * curve->coordBytes;
        for (unsigned char fill : {0x00, 0x5a, 0xff}) {
            // An all-zero digest is the e = 0 case, signed as e = 1.
            const std::vector<unsigned char> digest(curve->coordBytes, fill);
            std::vector<unsigned char> fast(n), slow(n);
            ASSERT_TRUE(plcsp::ecSign(*curve, keys.d.get(), digest.data(), digest.size(), fast.data()));
            ASSERT_TRUE(plcsp::ecSignGcrypt(*curve, keys.d.get(), digest.data(), digest.size(), slow.data()));
            EXPECT_TRUE(plcsp::ecVerifyGcrypt(*curve, keys.pub.data(), digest.data(), digest.size(), fast.data()));
            EXPECT_TRUE(plcsp::ecVerify(*curve, keys.pub.data(), digest.data(), digest.size(), slow.data()));
            EXPECT_NE(fast, slow);  // a fresh random k each time
        }
    }
}

TEST(GostEcPaths, EveryCurveRunsOnOpenssl) {
    // A curve whose group could not be built would fall back to libgcrypt
    // silently, at a third of the speed.
    for (const char* oid : kCurveOids) {
        SCOPED_TRACE(oid);
        const plcsp::CurveInfo* curve = plcsp::curveOfOid(oid);
        Keys keys = keysOn(*curve);
        std::vector<unsigned char> digest(curve->coordBytes, 1), sig(2 * curve->coordBytes);
        EXPECT_EQ(plcsp::opensslSign(*curve, keys.d.get(), digest.data(), digest.size(), sig.data()),
                  std::optional<bool>(true));
        EXPECT_EQ(plcsp::opensslVerify(*curve, keys.pub.data(), digest.data(), digest.size(), sig.data()),
                  std::optional<bool>(true));
    }
}

TEST(GostEcPaths, DamagedSignaturesAndKeysAreRefusedByBoth) {
    const plcsp::CurveInfo* curve = plcsp::curveOfOid("1.2.643.7.1.2.1.2.1");
    const std::size_t c = curve->coordBytes;
    Keys keys = keysOn(*curve);
    Keys other = keysOn(*curve);
    const std::vector<unsigned char> digest(c, 0x33);
    std::vector<unsigned char> sig(2 * c);
    ASSERT_TRUE(plcsp::ecSign(*curve, keys.d.get(), digest.data(), c, sig.data()));

    std::vector<std::pair<std::string, std::vector<unsigned char>>> badSigs;
    auto flipped = sig;
    flipped[c + 3] ^= 0x10;
    badSigs.emplace_back("s changed", flipped);
    badSigs.emplace_back("r zero", sig);
    std::fill(badSigs.back().second.begin(), badSigs.back().second.begin() + c, 0);
    badSigs.emplace_back("s all ones (above q)", sig);
    std::fill(badSigs.back().second.begin() + c, badSigs.back().second.end(), 0xff);
    auto swapped = sig;
    std::swap_ranges(swapped.begin(), swapped.begin() + c, swapped.begin() + c);
    badSigs.emplace_back("r and s swapped", swapped);
    for (const auto& [what, bad] : badSigs) {
        SCOPED_TRACE(what);
        EXPECT_FALSE(plcsp::ecVerify(*curve, keys.pub.data(), digest.data(), c, bad.data()));
        EXPECT_FALSE(plcsp::ecVerifyGcrypt(*curve, keys.pub.data(), digest.data(), c, bad.data()));
    }

    auto offCurve = keys.pub;
    offCurve[5] ^= 1;
    auto wideX = keys.pub;
    std::fill(wideX.begin(), wideX.begin() + c, 0xff);  // x above the field prime
    for (const auto* pub : {&other.pub, &offCurve, &wideX}) {
        EXPECT_FALSE(plcsp::ecVerify(*curve, pub->data(), digest.data(), c, sig.data()));
        EXPECT_FALSE(plcsp::ecVerifyGcrypt(*curve, pub->data(), digest.data(), c, sig.data()));
    }
}

TEST(GostEcPaths, AgreementIsSymmetricOnEveryCurve) {
    // Cofactor 4 curves included: both sides must reach the same point
    // whichever library multiplied it.
    const unsigned char ukm[8] = {0x1d, 0x80, 0x60, 0x3c, 0x85, 0x44, 0xc7, 0x27};
    for (const char* oid : kCurveOids) {
        SCOPED_TRACE(oid);
        const plcsp::CurveInfo* curve = plcsp::curveOfOid(oid);
        Keys a = keysOn(*curve), b = keysOn(*curve);
        unsigned char ab[32], ba[32];
        ASSERT_TRUE(plcsp::ecVko(*curve, a.d.get(), b.pub.data(), ukm, GCRY_MD_STRIBOG256, ab));
        ASSERT_TRUE(plcsp::ecVko(*curve, b.d.get(), a.pub.data(), ukm, GCRY_MD_STRIBOG256, ba));
        EXPECT_EQ(Bytes(ab, ab + 32), Bytes(ba, ba + 32));

        auto offCurve = b.pub;
        offCurve[0] ^= 1;
        plcsp::SecureBytes staticRaw;
        EXPECT_FALSE(plcsp::ecVkoStatic(*curve, a.d.get(), offCurve.data(), staticRaw));
    }
}
