// Published test vectors for the algorithms of the software GOST provider.
#include <gtest/gtest.h>

#include "CspTestSupport.h"
#include "softgost/gost/Gost28147.h"
#include "softgost/gost/GostEc.h"

using namespace testutil;

namespace {

const std::string kSboxA = "1.2.643.2.2.31.1";
const std::string kSboxZ = "1.2.643.7.1.2.5.1.1";

Bytes hashVerify(ALG_ID alg, const Bytes& data) {
    HCRYPTPROV prov = 0;
    EXPECT_TRUE(CryptAcquireContextA(&prov, nullptr, nullptr, 75, CRYPT_VERIFYCONTEXT));
    Bytes h = hashOf(prov, alg, data);
    CryptReleaseContext(prov, 0);
    return h;
}

}  // namespace

TEST(GostVectors, Hash94CryptoProParameters) {
    EXPECT_EQ(toHex(hashVerify(CALG_GR3411, {})),
              "981e5f3ca30c841487830f84fb433e13ac1101569b9c13584ac483234cd656c0");
    EXPECT_EQ(toHex(hashVerify(CALG_GR3411, bytesOf("abc"))),
              "b285056dbf18d7392d7677369524dd14747459ed8143997e163b2986f92fd42c");
}

TEST(GostVectors, Streebog) {
    // RFC 6986 example 1 (the RFC prints message and digests byte-reversed).
    const Bytes m1 = bytesOf("012345678901234567890123456789012345678901234567890123456789012");
    EXPECT_EQ(toHex(hashVerify(CALG_GR3411_2012_256, m1)),
              "9d151eefd8590b89daa6ba6cb74af9275dd051026bb149a452fd84e5e57b5500");
    EXPECT_EQ(toHex(hashVerify(CALG_GR3411_2012_512, m1)),
              "1b54d01a4af5b9d5cc3d86d68d285462b19abc2475222f35c085122be4ba1ffa"
              "00ad30f8767b3a82384c6574f024c311e2a481332b08ef7f41797891c1646f48");
}

TEST(GostVectors, Gost28147Ecb) {
    const Bytes key = fromHex("8182838485868788898a8b8c8d8e8f80d1d2d3d4d5d6d7d8d9dadbdcdddedfd0");
    Bytes a = fromHex("0102030405060708f1f2f3f4f5f6f7f8");
    ASSERT_TRUE(plcsp::ecbEncrypt(key.data(), kSboxA, a.data(), a.size()));
    EXPECT_EQ(toHex(a), "668184aedc48c9174164347058845cac");
    ASSERT_TRUE(plcsp::ecbDecrypt(key.data(), kSboxA, a.data(), a.size()));
    EXPECT_EQ(toHex(a), "0102030405060708f1f2f3f4f5f6f7f8");

    Bytes z = fromHex("0102030405060708f1f2f3f4f5f6f7f8");
    ASSERT_TRUE(plcsp::ecbEncrypt(key.data(), kSboxZ, z.data(), z.size()));
    EXPECT_EQ(toHex(z), "ce5a5ed7e0577a5fd0cc85ce31635b8b");

    Bytes odd(7);
    EXPECT_FALSE(plcsp::ecbEncrypt(key.data(), kSboxA, odd.data(), odd.size()));
}

TEST(GostVectors, Gost28147Cfb) {
    const Bytes key = fromHex("8d5a2c83a7c70a61d61b34b51fdf42686671a35d874cfd84993663b61ed60dad");
    const Bytes iv = fromHex("46606f0d8834235a");
    Bytes data = fromHex("d2fdf83ac1b439232eaacc980a02da33");
    plcsp::CfbStream enc;
    ASSERT_TRUE(enc.start(key.data(), kSboxA, iv.data(), true));
    // Two calls continue one stream, as CryptEncrypt pieces do.
    ASSERT_TRUE(enc.process(data.data(), 5));
    ASSERT_TRUE(enc.process(data.data() + 5, data.size() - 5));
    EXPECT_EQ(toHex(data), "88b7751674a5ee2d14fe9167d05ccc40");
    plcsp::CfbStream dec;
    ASSERT_TRUE(dec.start(key.data(), kSboxA, iv.data(), false));
    ASSERT_TRUE(dec.process(data.data(), data.size()));
    EXPECT_EQ(toHex(data), "d2fdf83ac1b439232eaacc980a02da33");
}

TEST(GostVectors, SignatureExampleVerifies) {
    // GOST R 34.10 example (RFC 7091 section 7.1) on the test curve.
    const plcsp::CurveInfo test{"GOST2001-test", 32, 1};
    const Bytes pub = reversed(fromHex("7F2B49E270DB6D90D8595BEC458B50C58585BA1D4E9B788F6689DBD8E56FD80B"));
    const Bytes puby = reversed(fromHex("26F1B489D6701DD185C8413A977B3CBBAF64D1C593D26627DFFB101A87FF77DA"));
    Bytes raw = pub;
    raw.insert(raw.end(), puby.begin(), puby.end());
    const Bytes digest = reversed(fromHex("2DFBC1B372D89A1188C09C52E0EEC61FCE52032AB1022E8E67ECE6672B043EE5"));
    // Standard order BE(s)||BE(r); the CryptoAPI order is its reversal.
    const Bytes sig = reversed(fromHex(
        "01456C64BA4642A1653C235A98A60249BCD6D3F746B631DF928014F6C5BF9C40"
        "41AA28D2F1AB148280CD9ED56FEDA41974053554A42767B83AD043FD39DC0493"));
    EXPECT_TRUE(plcsp::ecCheckPublic(test, raw.data(), raw.size()));
    EXPECT_TRUE(plcsp::ecVerify(test, raw.data(), digest.data(), digest.size(), sig.data()));
    Bytes other = digest;
    other[0] ^= 1;
    EXPECT_FALSE(plcsp::ecVerify(test, raw.data(), other.data(), other.size(), sig.data()));

    // The private key of the example gives the example's public key.
    const Bytes d = fromHex("7A929ADE789BB9BE10ED359DD39A72C11B60961F49397EEE1D19CE9891EC3B28");
    plcsp::Mpi mpi = plcsp::privateFromBytes(d.data(), d.size());
    std::vector<unsigned char> derived;
    ASSERT_TRUE(plcsp::ecPublicFromPrivate(test, mpi.get(), derived));
    EXPECT_EQ(derived, raw);
}

TEST(GostVectors, Vko2012With512BitKeys) {
    // RFC 7836 appendix B: VKO GOST R 34.10-2012-256 on the TC26 512-bit A set.
    const plcsp::CurveInfo* curve = plcsp::curveOfOid("1.2.643.7.1.2.1.2.1");
    ASSERT_NE(curve, nullptr);
    const Bytes ukm = fromHex("1d80603c8544c727");
    const Bytes prvA = reversed(fromHex(
        "c990ecd972fce84ec4db022778f50fcac726f46708384b8d458304962d7147f8"
        "c2db41cef22c90b102f2968404f9b9be6d47c79692d81826b32b8daca43cb667"));
    const Bytes pubB = fromHex(
        "192fe183b9713a077253c72c8735de2ea42a3dbc66ea317838b65fa32523cd5e"
        "fca974eda7c863f4954d1147f1f2b25c395fce1c129175e876d132e94ed5a651"
        "04883b414c9b592ec4dc84826f07d0b6d9006dda176ce48c391e3f97d102e03b"
        "b598bf132a228a45f7201aba08fc524a2d77e43a362ab022ad4028f75bde3b79");
    ASSERT_TRUE(plcsp::ecCheckPublic(*curve, pubB.data(), pubB.size()));
    plcsp::Mpi d = plcsp::privateFromBytes(prvA.data(), prvA.size());
    unsigned char kek[32];
    ASSERT_TRUE(plcsp::ecVko(*curve, d.get(), pubB.data(), ukm.data(), GCRY_MD_STRIBOG256, kek));
    EXPECT_EQ(toHex(Bytes(kek, kek + 32)),
              "c9a9a77320e2cc559ed72dce6f47e2192ccea95fa648670582c054c0ef36c221");
}
