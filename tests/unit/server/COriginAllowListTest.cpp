#include "server/COriginAllowList.h"

#include <gtest/gtest.h>

TEST(COriginAllowList, ComparesSchemeAndHostWithoutCaseAndTheRestExactly) {
    const auto list = COriginAllowList::parse("  https://LK.Example.org\thttp://localhost:8080\n");
    ASSERT_EQ(list.origins().size(), 2u);
    EXPECT_TRUE(list.isAllowed("https://lk.example.org"));
    EXPECT_TRUE(list.isAllowed("HTTPS://lk.EXAMPLE.org"));
    EXPECT_TRUE(list.isAllowed("http://localhost:8080"));

    // Look-alikes: the allowed host as a prefix or suffix of another, another
    // scheme, another or an implied port, a path.
    for (const char* refused :
         {"https://lk.example.org.evil.example", "https://evil-lk.example.org", "http://lk.example.org",
          "wss://lk.example.org", "https://lk.example.org:443", "https://lk.example.org/",
          "http://localhost", "http://localhost:80800", "https://lk.example.or", ""}) {
        EXPECT_FALSE(list.isAllowed(refused)) << refused;
    }
}

TEST(COriginAllowList, NullIsRefusedUnlessListedAndAnEmptyListRefusesEverything) {
    EXPECT_FALSE(COriginAllowList::parse("https://lk.example.org").isAllowed("null"));
    EXPECT_TRUE(COriginAllowList::parse("null https://lk.example.org").isAllowed("null"));
    EXPECT_FALSE(COriginAllowList::parse("null").isAllowed("NULL"));

    const COriginAllowList none = COriginAllowList::parse(" \t ");
    EXPECT_TRUE(none.origins().empty());
    EXPECT_FALSE(none.isAllowed("https://lk.example.org"));
}

TEST(COriginAllowList, Ipv6HostKeepsItsPort) {
    const auto list = COriginAllowList::parse("http://[::1]:3001");
    EXPECT_TRUE(list.isAllowed("http://[::1]:3001"));
    EXPECT_FALSE(list.isAllowed("http://[::1]:3002"));
    EXPECT_EQ(COriginAllowList::normalise("HTTP://[FE80::1]:80"), "http://[fe80::1]:80");
}
