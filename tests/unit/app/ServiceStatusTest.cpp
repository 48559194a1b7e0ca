#include "app/ServiceStatus.h"

#include <gtest/gtest.h>

#include "core/AppInfo.h"

namespace {

TEST(ServiceStatus, TheObjectAPageReads) {
    tesel::setVersion(101276);
    EXPECT_EQ(service_status::statusJson("127.0.0.1", 3000, true),
              R"({"product":"Pellamo","version":"1.01.276","variant":"plugin","listen":"ws://127.0.0.1:3000",)"
              R"("transportServer":true})");
    // An IPv6 listen address is bracketed as in a URL.
    EXPECT_EQ(service_status::statusJson("::1", 3001, false),
              R"({"product":"Pellamo","version":"1.01.276","variant":"plugin","listen":"ws://[::1]:3001",)"
              R"("transportServer":false})");
    // Whatever an address holds cannot leave its string.
    const std::string odd = service_status::statusJson("a\"b\\c\n", 1, false);
    EXPECT_NE(odd.find(R"("listen":"ws://a\"b\\c\u000a:1")"), std::string::npos) << odd;
}

}  // namespace
