// The update check of a program that a package manager updates: it tells of
// a newer version and does nothing else.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/headless.h"
#include "update/RestartSignal.h"
#include "UpdateTestSupport.h"

using testing_http::kMagic;
using namespace update_test;

namespace {

const std::string kCaption = "[Pellamo Plugin] ";

class UpdateNotifyOnly : public ::testing::Test {
protected:
    void SetUp() override {
        server().reset();
        qn::update::clearRestartRequest();
        qn::update::setProcessLauncher([this](const std::string& exe) {
            launched.push_back(exe);
            return true;
        });
        // Were a question asked, it would be answered Yes.
        platform::setDefaultQuestionAnswer(IDYES);
        s.agent.setNotifyOnly(true);
    }
    void TearDown() override {
        qn::update::setProcessLauncher({});
        qn::update::clearRestartRequest();
        platform::setDefaultQuestionAnswer(IDNO);
    }

    std::string attempt(bool& handled) {
        server().route("/api/etc/getLatestVersion/4", kMagic + version);
        testing::internal::CaptureStderr();
        s.agent.attemptUpdate(handled, nullptr);
        return testing::internal::GetCapturedStderr();
    }

    AgentSetup s;
    std::string version;
    std::vector<std::string> launched;
};

TEST_F(UpdateNotifyOnly, ANewerVersionIsToldAndNothingIsDownloaded) {
    version = "101277";
    bool handled = false;
    EXPECT_EQ(attempt(handled), kCaption + "Ваша версия программы устарела.\nТребуется обновление.\n");
    EXPECT_TRUE(handled);
    EXPECT_EQ(server().log().size(), 1u);  // the version request only
    EXPECT_TRUE(launched.empty());
    EXPECT_FALSE(qn::update::isRestartRequested());
}

TEST_F(UpdateNotifyOnly, AnOlderOrTheSameVersionSaysNothing) {
    for (const char* v : {"101000", "101276"}) {
        version = v;
        bool handled = false;
        EXPECT_EQ(attempt(handled), "") << v;
        EXPECT_TRUE(handled);
    }
    EXPECT_EQ(server().log().size(), 2u);
    EXPECT_TRUE(launched.empty());
}

TEST_F(UpdateNotifyOnly, AFailedCheckIsStillShownOnce) {
    s.agent.setPort(server().refusedPort());
    bool handled = false;
    EXPECT_EQ(attempt(handled), kCaption + "Не удаётся связаться с сервером УЦ.\n");
    EXPECT_TRUE(handled);
}

}  // namespace
