// The agent's exchanges with the transport server and the start-up dialog,
// against the loopback server.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "errors/eErrCodes.h"
#include "platform/headless.h"
#include "transport/common/TransportHeader.h"
#include "update/RestartSignal.h"
#include "update/UpdatePackage.h"
#include "UpdateTestSupport.h"

using tesel::CBlob;
using testing_http::errorForm;
using testing_http::kMagic;
using namespace update_test;

namespace {

// Questions are answered by the configured default, never by a person at a
// terminal that happens to run the tests.
const bool g_noTerminal = [] {
    if (isatty(STDIN_FILENO)) return std::freopen("/dev/null", "r", stdin) != nullptr;
    return true;
}();

const std::string kCaption = "[Pellamo Plugin] ";
const std::string kQuestionNewer = kCaption + "Доступно обновление. Обновить программу?\n";
const std::string kQuestionOlder =
    kCaption + "Ваша версия программы старше, чем на сервере(стабильная).\n Обновить программу?\n";

class UpdateAgent : public ::testing::Test {
protected:
    void SetUp() override {
        (void)g_noTerminal;
        server().reset();
        qn::update::clearRestartRequest();
        qn::update::setProcessLauncher([this](const std::string& exe) {
            launched.push_back(exe);
            return launchResult;
        });
    }
    void TearDown() override {
        qn::update::setProcessLauncher({});
        qn::update::clearRestartRequest();
        platform::setDefaultQuestionAnswer(IDNO);
    }

    void serveVersion(const std::string& body) { server().route("/api/etc/getLatestVersion/4", body); }

    // attemptUpdate with its dialogs captured.
    std::string attempt(AgentSetup& s, bool& handled) {
        testing::internal::CaptureStderr();
        s.agent.attemptUpdate(handled, nullptr);
        return testing::internal::GetCapturedStderr();
    }

    std::vector<std::string> launched;
    bool launchResult = true;
};

}  // namespace

TEST_F(UpdateAgent, LatestVersionIsTheDigitsBehindTheMagic) {
    AgentSetup s;
    unsigned latest = 0;
    serveVersion(kMagic + "101277");
    ASSERT_EQ(s.agent.getLatestVersion(latest), 0);
    EXPECT_EQ(latest, 101277u);
    serveVersion(kMagic + "9999999");
    ASSERT_EQ(s.agent.getLatestVersion(latest), 0);
    EXPECT_EQ(latest, 9999999u);
    serveVersion(kMagic + "12ab");
    ASSERT_EQ(s.agent.getLatestVersion(latest), 0);
    EXPECT_EQ(latest, 12u);
    const auto log = server().log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].method, "GET");
    EXPECT_EQ(log[0].path, "/api/etc/getLatestVersion/4");
}

TEST_F(UpdateAgent, LatestVersionRefusesBadAnswers) {
    AgentSetup s;
    unsigned latest = 77;
    serveVersion(kMagic + "12345678");  // does not fit the 8-byte buffer
    EXPECT_EQ(s.agent.getLatestVersion(latest), ERR_UNKNOWN_HEADER);
    server().route("/api/etc/getLatestVersion/4", "<html>502 Bad Gateway</html>", 502, "text/html");
    EXPECT_EQ(s.agent.getLatestVersion(latest), ERR_UNKNOWN_HEADER);
    serveVersion(errorForm(6));
    EXPECT_EQ(s.agent.getLatestVersion(latest), ERR_ENVELOPE_BLOCKED);
    serveVersion(errorForm(7));
    EXPECT_EQ(s.agent.getLatestVersion(latest), ERR_ENVELOPE_ACTIVATED);
    serveVersion(errorForm(40));
    EXPECT_EQ(s.agent.getLatestVersion(latest), ERR_SERVER_UNKNOWN_CODE);
    EXPECT_EQ(latest, 77u);

    s.agent.setPort(server().refusedPort());
    EXPECT_EQ(s.agent.getLatestVersion(latest), ERR_SERVER_UNREACHABLE);
}

TEST_F(UpdateAgent, CheckUpdatesComparesWithTheOwnVersion) {
    AgentSetup s;
    unsigned latest = 0;
    serveVersion(kMagic + "101276");
    EXPECT_EQ(s.agent.checkUpdates(latest), 0);
    serveVersion(kMagic + "101277");
    EXPECT_EQ(s.agent.checkUpdates(latest), ERR_PROGRAM_OUTDATED);
    EXPECT_EQ(latest, 101277u);
    serveVersion(kMagic + "101000");
    EXPECT_EQ(s.agent.checkUpdates(latest), ERR_PROGRAM_NEWER_THAN_SERVER);
    serveVersion(errorForm(12));
    EXPECT_EQ(s.agent.checkUpdates(latest), ERR_SERVER_ACCESS_DENIED);
}

TEST_F(UpdateAgent, DownloadPostsTheFormAndReturnsTheFile) {
    AgentSetup s;
    const std::string file = "file content that is long enough" + std::string(64, '\0');
    server().download("update3", file);
    CBlob content;
    ASSERT_EQ(s.agent.downloadUpdate("update3", 101277, content), 0);
    EXPECT_EQ(text(content), file);
    EXPECT_EQ(content.getOffset(), 0u);
    const auto log = server().log();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].method, "POST");
    EXPECT_EQ(log[0].path, "/api/etc/downloadUpdate");
    EXPECT_EQ(log[0].body, "requesterType=4&filename=update3&version=101277");
    EXPECT_EQ(log[0].header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(log[0].header("User-Agent"), "quorin/1.0");
}

TEST_F(UpdateAgent, DownloadReportsServerErrorsAndShortAnswers) {
    AgentSetup s;
    CBlob content;
    for (unsigned n : {0u, 4u, 8u, 13u, 14u}) {
        server().download("f", errorForm(n));
        EXPECT_EQ(s.agent.downloadUpdate("f", 1, content), qn::http_transport::getServerErr(n)) << n;
    }
    server().download("f", "twelve bytes");
    EXPECT_EQ(s.agent.downloadUpdate("f", 1, content), ERR_UNKNOWN_HEADER);
    server().download("f", kMagic + "error=");  // the number is missing
    EXPECT_EQ(s.agent.downloadUpdate("f", 1, content), ERR_UNKNOWN_HEADER);
    EXPECT_TRUE(content.isEmpty());
}

TEST_F(UpdateAgent, DownloadDoesNotFollowRedirects) {
    AgentSetup s;
    const std::string movedPage = "<html>Moved to another place entirely</html>";
    server().route("/api/etc/downloadUpdate", movedPage, 302, "text/html", "/elsewhere");
    server().route("/elsewhere", "redirect target reached by mistake");
    CBlob content;
    ASSERT_EQ(s.agent.downloadUpdate("f", 1, content), 0);
    EXPECT_EQ(text(content), movedPage);
    EXPECT_EQ(server().log().size(), 1u);
}

TEST_F(UpdateAgent, SameVersionShowsNothing) {
    AgentSetup s;
    serveVersion(kMagic + "101276");
    bool handled = false;
    EXPECT_EQ(attempt(s, handled), "");
    EXPECT_TRUE(handled);
    EXPECT_TRUE(launched.empty());
}

TEST_F(UpdateAgent, UnreachableServerCostsOneErrorBox) {
    AgentSetup s;
    s.agent.setPort(server().refusedPort());
    bool handled = false;
    EXPECT_EQ(attempt(s, handled), kCaption + "Не удаётся связаться с сервером УЦ.\n");
    EXPECT_TRUE(handled);
}

TEST_F(UpdateAgent, AnswerNoDownloadsNothing) {
    AgentSetup s;
    serveVersion(kMagic + "101277");
    platform::setDefaultQuestionAnswer(IDNO);
    bool handled = true;
    EXPECT_EQ(attempt(s, handled), kQuestionNewer);
    EXPECT_FALSE(handled);
    EXPECT_EQ(server().log().size(), 1u);  // the version request only
    EXPECT_FALSE(qn::update::isRestartRequested());
}

TEST_F(UpdateAgent, OlderServerVersionIsStillOfferedAndInstalled) {
    AgentSetup s;
    serveVersion(kMagic + "101000");
    TempDir pkg;
    fs::create_directories(pkg / "src");
    writeFile(pkg / "src" / "pellamo", "older but stable");
    ASSERT_EQ(s.agent.createUpdatePackage((pkg / "src").string(), (pkg / "out").string(), 101000), 0);
    server().package((pkg / "out").string());
    platform::setDefaultQuestionAnswer(IDYES);
    bool handled = false;
    const std::string shown = attempt(s, handled);
    EXPECT_EQ(shown, kQuestionOlder + kCaption + "Обновление загружено. Требуется перезапуск программы\n");
    EXPECT_TRUE(handled);
    EXPECT_EQ(readFile(s.program / "pellamo"), "older but stable");
    // The server's own version was asked for.
    const auto log = server().log();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[1].body, "requesterType=4&filename=updateinfo.dat&version=101000");
    EXPECT_EQ(log[2].body, "requesterType=4&filename=update1&version=101000");
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_TRUE(qn::update::isRestartRequested());
}

TEST_F(UpdateAgent, FailedInstallShowsTheErrorAndDoesNotRestart) {
    AgentSetup s;
    serveVersion(kMagic + "101277");
    server().download("updateinfo.dat", errorForm(11));
    platform::setDefaultQuestionAnswer(IDYES);
    bool handled = false;
    EXPECT_EQ(attempt(s, handled), kQuestionNewer + kCaption + "Произошла внутренняя ошибка.\n");
    EXPECT_TRUE(handled);
    EXPECT_TRUE(launched.empty());
    EXPECT_FALSE(qn::update::isRestartRequested());
}

TEST_F(UpdateAgent, RestartClosesOnlyWhenTheNewInstanceRuns) {
    AgentSetup s;
    int handlerCalls = 0;
    qn::update::setRestartHandler([&] { ++handlerCalls; });
    launchResult = false;
    s.agent.restart(nullptr);
    ASSERT_EQ(launched.size(), 1u);
    EXPECT_FALSE(qn::update::isRestartRequested());
    EXPECT_EQ(handlerCalls, 0);

    launchResult = true;
    s.agent.restart(nullptr);
    ASSERT_EQ(launched.size(), 2u);
    // The running executable (this test binary) is what gets started again.
    EXPECT_TRUE(fs::equivalent(launched[1], "/proc/self/exe"));
    EXPECT_TRUE(qn::update::isRestartRequested());
    EXPECT_EQ(handlerCalls, 1);
    qn::update::setRestartHandler({});
}
