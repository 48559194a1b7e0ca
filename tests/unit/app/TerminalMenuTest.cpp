// The terminal's tray menu and settings form, driven with scripted input.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/MainLoop.h"
#include "app/Settings.h"
#include "app/SettingsForm.h"
#include "app/TerminalMenu.h"
#include "core/AppInfo.h"
#include "errors/eErrCodes.h"
#include "transport/TransportServer.h"

namespace {

using terminal::MenuChoice;

// Hands out the lines, then reports the end of input.
terminal::LineReader script(std::vector<std::string> lines) {
    auto next = std::make_shared<std::size_t>(0);
    auto all = std::make_shared<std::vector<std::string>>(std::move(lines));
    return [next, all](std::string& line) {
        if (*next >= all->size()) return false;
        line = (*all)[(*next)++];
        return true;
    };
}

std::string savedHostAndPort() {
    std::ifstream in(getSettingsFile(), std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 16) return "<no file>";
    const unsigned n = static_cast<unsigned char>(bytes[8]) | static_cast<unsigned char>(bytes[9]) << 8;
    const std::string host = bytes.substr(12, n);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + 12 + n);
    const unsigned port = p[0] | p[1] << 8 | p[2] << 16 | static_cast<unsigned>(p[3]) << 24;
    return host + ":" + std::to_string(port);
}

class TerminalFormTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::remove(getSettingsFile());
        setTransportServerAddress({"start.example", 9200});
        tesel::setVersion(101276);
    }
    void TearDown() override { std::filesystem::remove(getSettingsFile()); }
    std::ostringstream out;
};

TEST(MenuChoiceTest, NumbersTextsAndTheMnemonic) {
    EXPECT_EQ(terminal::parseMenuChoice("1"), MenuChoice::Settings);
    EXPECT_EQ(terminal::parseMenuChoice(" Настройки \r"), MenuChoice::Settings);
    for (const char* exit : {"2", "&Выход", "Выход", "в", "В", "  2  "}) {
        SCOPED_TRACE(exit);
        EXPECT_EQ(terminal::parseMenuChoice(exit), MenuChoice::Exit);
    }
    for (const char* other : {"", "3", "12", "x", "Настройки2"}) {
        SCOPED_TRACE(other);
        EXPECT_EQ(terminal::parseMenuChoice(other), MenuChoice::Unknown);
    }
}

TEST_F(TerminalFormTest, ShowsTheVersionAndTheAddressInForce) {
    ASSERT_TRUE(terminal::runSettingsForm(script({""}), out));
    const std::string shown = out.str();
    EXPECT_NE(shown.find("Plugin Pellamo"), std::string::npos);
    EXPECT_NE(shown.find("Версия плагина: 1.01.276\n"), std::string::npos);
    EXPECT_NE(shown.find("Транспортный сервер : start.example:9200\n"), std::string::npos);
}

TEST_F(TerminalFormTest, ANewAddressIsAppliedAndSaved) {
    ASSERT_TRUE(terminal::runSettingsForm(script({"  new.example:9443 "}), out));
    EXPECT_EQ(httpSrv::getAddress(getTransportServerAddress()), "new.example:9443");
    EXPECT_EQ(getTransportServer().getHost(), "new.example");
    EXPECT_EQ(savedHostAndPort(), "new.example:9443");
    EXPECT_NE(out.str().find("Настройки сохранены."), std::string::npos);
}

TEST_F(TerminalFormTest, AnEmptyAnswerConfirmsTheTextShown) {
    ASSERT_TRUE(terminal::runSettingsForm(script({""}), out));
    EXPECT_EQ(savedHostAndPort(), "start.example:9200");
}

TEST_F(TerminalFormTest, WithoutAColonTheOldAddressStaysAndIsStillSaved) {
    ASSERT_TRUE(terminal::runSettingsForm(script({"nocolon"}), out));
    EXPECT_EQ(httpSrv::getAddress(getTransportServerAddress()), "start.example:9200");
    EXPECT_EQ(savedHostAndPort(), "start.example:9200");
}

TEST_F(TerminalFormTest, ABadPortKeepsTheOldPortWithTheNewHost) {
    ASSERT_TRUE(terminal::runSettingsForm(script({"other.example:http"}), out));
    EXPECT_EQ(savedHostAndPort(), "other.example:9200");
}

TEST_F(TerminalFormTest, EndOfInputChangesAndSavesNothing) {
    EXPECT_FALSE(terminal::runSettingsForm(script({}), out));
    EXPECT_EQ(httpSrv::getAddress(getTransportServerAddress()), "start.example:9200");
    EXPECT_FALSE(std::filesystem::exists(getSettingsFile()));
}

TEST_F(TerminalFormTest, ApplyReturnsTheParseResult) {
    EXPECT_EQ(applySettingsForm("a:1"), ERR_OK);
    EXPECT_EQ(applySettingsForm("b"), ERR_INVALID_CA_ADDRESS);
    EXPECT_EQ(savedHostAndPort(), "a:1");
}

TEST_F(TerminalFormTest, MenuOffersBothItemsRunsTheFormAndEndsOnExit) {
    EXPECT_TRUE(terminal::runTrayMenu(script({"?", "1", "menu.example:1", "2", "never read"}), out));
    const std::string shown = out.str();
    const auto settings = shown.find("Настройки");
    const auto exit = shown.find("&Выход");
    ASSERT_NE(settings, std::string::npos);
    ASSERT_NE(exit, std::string::npos);
    EXPECT_LT(settings, exit);
    EXPECT_EQ(savedHostAndPort(), "menu.example:1");
}

TEST_F(TerminalFormTest, MenuReportsTheEndOfInput) {
    EXPECT_FALSE(terminal::runTrayMenu(script({"x"}), out));
    EXPECT_FALSE(terminal::runTrayMenu(script({"1"}), out));
    EXPECT_FALSE(std::filesystem::exists(getSettingsFile()));
}

TEST(MainLoopTest, TheFirstRequestedExitCodeWins) {
    EXPECT_FALSE(app::isMainLoopEnding());
    std::thread([] { app::requestMainLoopEnd(7); }).detach();
    EXPECT_EQ(app::runMainLoop(), 7);
    app::requestMainLoopEnd(0);
    EXPECT_TRUE(app::isMainLoopEnding());
    EXPECT_EQ(app::runMainLoop(), 7);
}

}  // namespace
