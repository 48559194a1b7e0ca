// Helpers of the packet tests: byte conversions and pairs of connections on
// the software provider, keys in a temporary folder per test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "core/CBlob.h"
#include "crypto/CspTestSupport.h"
#include "crypto/Crypto1By1Connect.h"
#include "helpers/ByteStrings.h"

namespace packets_test {

using qn::crypto::Crypto1By1Connect;
using qn::crypto::eSupportCP;
using tesel::CBlob;

using test_bytes::blobOf;
using test_bytes::le32;
using test_bytes::lp;
using test_bytes::text;

inline std::unique_ptr<Crypto1By1Connect> newKey(const std::string& container, eSupportCP kind) {
    Crypto1By1Connect* raw = nullptr;
    const unsigned r = Crypto1By1Connect::create(container, kind, &raw);
    std::unique_ptr<Crypto1By1Connect> owned(raw);
    EXPECT_EQ(r, 0u) << container;
    return r == 0 ? std::move(owned) : nullptr;
}

inline CBlob publicKeyOf(const Crypto1By1Connect& c) {
    CBlob key;
    EXPECT_EQ(c.getPublicKey(key), 0u);
    return key;
}

// Two keys of one kind, each paired with the other.
struct KeyPair {
    std::unique_ptr<Crypto1By1Connect> a;
    std::unique_ptr<Crypto1By1Connect> b;
};

inline KeyPair pairOf(eSupportCP kind, const std::string& tag = "") {
    KeyPair p{newKey("a" + tag + std::to_string(kind), kind), newKey("b" + tag + std::to_string(kind), kind)};
    if (p.a && p.b) {
        EXPECT_EQ(p.a->importPublicKey2Side(publicKeyOf(*p.b)), 0u);
        EXPECT_EQ(p.b->importPublicKey2Side(publicKeyOf(*p.a)), 0u);
    }
    return p;
}

// A payload that starts with a permanent header.
inline CBlob payloadOf(unsigned version, unsigned type, unsigned requester, const std::string& body) {
    return blobOf(le32(version) + le32(type) + le32(requester) + le32(101276) + body);
}

}  // namespace packets_test
