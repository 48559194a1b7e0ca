#include <gtest/gtest.h>

#include "core/CBlob.h"

using tesel::CBlob;

TEST(CBlob, SmokeRoundTrip) {
    CBlob b(CBlob::sizeOf(std::string("AB")) + 4);
    b << std::string("AB") << 7u;
    EXPECT_TRUE(b.isCompleted());
    CBlob r(b.getData(), b.getSize());
    std::string s;
    unsigned v = 0;
    r >> &s >> v;
    EXPECT_EQ(s, "AB");
    EXPECT_EQ(v, 7u);
    EXPECT_FALSE(r.isMalformed());
}
