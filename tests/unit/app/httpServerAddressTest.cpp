#include <gtest/gtest.h>

#include "app/httpServerAddress.h"
#include "errors/eErrCodes.h"

namespace {

using httpSrv::getAddress;
using httpSrv::httpServerAddress;
using httpSrv::parseAddress;

TEST(ParseAddressTest, HostAndPortRoundTrip) {
    httpServerAddress a{"old", 1};
    EXPECT_EQ(parseAddress("host:8080", a), ERR_OK);
    EXPECT_EQ(a.host, "host");
    EXPECT_EQ(a.port, 8080u);
    EXPECT_EQ(getAddress(a), "host:8080");
}

TEST(ParseAddressTest, SplitsAtTheLastColon) {
    httpServerAddress a{"old", 1};
    EXPECT_EQ(parseAddress("http://ca.example:9200", a), ERR_OK);
    EXPECT_EQ(a.host, "http://ca.example");
    EXPECT_EQ(a.port, 9200u);
    EXPECT_EQ(parseAddress("a:b:c:42", a), ERR_OK);
    EXPECT_EQ(a.host, "a:b:c");
    EXPECT_EQ(a.port, 42u);
}

TEST(ParseAddressTest, WithoutAColonIs65AndChangesNothing) {
    httpServerAddress a{"old", 1};
    for (const char* text : {"", "host", "host 8080", "8080"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseAddress(text, a), ERR_INVALID_CA_ADDRESS);
        EXPECT_EQ(a.host, "old");
        EXPECT_EQ(a.port, 1u);
    }
}

TEST(ParseAddressTest, APortThatIsNoNumberKeepsTheOldPortButTakesTheHost) {
    const char* texts[] = {"new:", "new:abc", "new:-1", "new:65536", "new:99999999999999999999", "new: ", "new:+"};
    for (const char* text : texts) {
        SCOPED_TRACE(text);
        httpServerAddress a{"old", 1234};
        EXPECT_EQ(parseAddress(text, a), ERR_OK);
        EXPECT_EQ(a.host, "new");
        EXPECT_EQ(a.port, 1234u);
    }
}

TEST(ParseAddressTest, PortIsReadLikeADecimalInteger) {
    const std::pair<const char*, unsigned> cases[] = {
        {"h:65535", 65535}, {"h:0", 0}, {"h: 81", 81}, {"h:+82", 82}, {"h:83abc", 83}, {"h:0084", 84}, {"h:-0", 0},
    };
    for (const auto& [text, port] : cases) {
        SCOPED_TRACE(text);
        httpServerAddress a{"old", 1};
        EXPECT_EQ(parseAddress(text, a), ERR_OK);
        EXPECT_EQ(a.port, port);
    }
}

TEST(ParseAddressTest, HostAndPortForm) {
    std::string host = "old";
    unsigned port = 5;
    EXPECT_EQ(parseAddress(":7", host, port), ERR_OK);
    EXPECT_EQ(host, "");
    EXPECT_EQ(port, 7u);
    EXPECT_EQ(parseAddress("none", host, port), ERR_INVALID_CA_ADDRESS);
    EXPECT_EQ(host, "");
    EXPECT_EQ(port, 7u);
}

}  // namespace
