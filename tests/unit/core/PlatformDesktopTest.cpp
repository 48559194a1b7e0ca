// The desktop layer without a desktop: when a graphical session counts as
// one, how Windows menu texts reach the toolkit, and how message boxes, the
// tray and the settings dialog go through the module's interface (a fake
// module here; the real one is tested on Xvfb by tests/desktop).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "platform/desktop.h"
#include "platform/headless.h"
#include "platform/win32.h"

namespace desktop = platform::desktop;

namespace {

desktop::EnvironmentReader environment(std::map<std::string, std::string> values) {
    return [values = std::move(values)](const char* name) -> const char* {
        const auto it = values.find(name);
        return it == values.end() ? nullptr : it->second.c_str();
    };
}

const desktop::PathProbe kNoFiles = [](const std::string&) { return false; };

TEST(PlatformDesktop, GraphicalSessionNeedsADisplayAndASessionBus) {
    EXPECT_TRUE(desktop::hasGraphicalSession(environment({{"DISPLAY", ":0"}, {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/b"}}),
                                             kNoFiles));
    EXPECT_TRUE(desktop::hasGraphicalSession(
        environment({{"WAYLAND_DISPLAY", "wayland-0"}, {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/b"}}), kNoFiles));
    // The bus at its standard place, as systemd user sessions have it.
    const desktop::PathProbe busSocket = [](const std::string& p) { return p == "/run/user/1000/bus"; };
    EXPECT_TRUE(desktop::hasGraphicalSession(environment({{"DISPLAY", ":0"}, {"XDG_RUNTIME_DIR", "/run/user/1000"}}),
                                             busSocket));
    // A service, a test, a pipe: no display, or no bus.
    EXPECT_FALSE(desktop::hasGraphicalSession(environment({}), busSocket));
    EXPECT_FALSE(desktop::hasGraphicalSession(environment({{"DBUS_SESSION_BUS_ADDRESS", "unix:path=/b"}}), kNoFiles));
    EXPECT_FALSE(desktop::hasGraphicalSession(environment({{"DISPLAY", ""}, {"DBUS_SESSION_BUS_ADDRESS", "x"}}), kNoFiles));
    EXPECT_FALSE(desktop::hasGraphicalSession(environment({{"DISPLAY", ":0"}}), kNoFiles));
    EXPECT_FALSE(desktop::hasGraphicalSession(environment({{"DISPLAY", ":0"}, {"XDG_RUNTIME_DIR", "/run/user/1000"}}),
                                              kNoFiles));
    // Switched off on purpose.
    EXPECT_FALSE(desktop::hasGraphicalSession(
        environment({{"DISPLAY", ":0"}, {"DBUS_SESSION_BUS_ADDRESS", "x"}, {"PELLAMO_DESKTOP", "0"}}), kNoFiles));
    EXPECT_TRUE(desktop::hasGraphicalSession(
        environment({{"DISPLAY", ":0"}, {"DBUS_SESSION_BUS_ADDRESS", "x"}, {"PELLAMO_DESKTOP", "1"}}), kNoFiles));
}

TEST(PlatformDesktop, WindowsMnemonicsInTheToolkitsForm) {
    EXPECT_EQ(desktop::toolkitMnemonic("&Выход"), "_Выход");
    EXPECT_EQ(desktop::toolkitMnemonic("Настройки"), "Настройки");
    EXPECT_EQ(desktop::toolkitMnemonic("Save && &Quit"), "Save & _Quit");
    EXPECT_EQ(desktop::toolkitMnemonic("snake_case"), "snake__case");
    EXPECT_EQ(desktop::toolkitMnemonic("end&"), "end");
    EXPECT_EQ(desktop::toolkitMnemonic(""), "");
}

// A module that records what it is asked and answers as told.
struct FakeModule {
    static inline std::vector<std::string> calls;
    static inline int answer = 0;
    static inline int dialogResult = 1;
    static inline std::vector<std::string> labels;
    static inline PellamoTrayCallback activated = nullptr;
    static inline void* context = nullptr;
    static inline int freed = 0;

    static int open(const char*) { return 0; }
    static int messageBox(const char* text, const char* caption, unsigned type) {
        calls.push_back(std::string(caption) + "|" + text + "|" + std::to_string(type));
        return answer;
    }
    static int showTray(const PellamoTray* tray) {
        labels.assign(tray->labels, tray->labels + tray->count);
        activated = tray->activated;
        context = tray->context;
        calls.push_back(std::string("tray ") + tray->id + " " + tray->title + " " + tray->iconName);
        return 0;
    }
    static int settingsDialog(const PellamoSettingsDialog* d, char** address) {
        calls.push_back(std::string(d->caption) + "|" + d->text + "|" + d->versionLabel + d->version + "|" +
                        d->addressLabel + d->address + "|" + d->okLabel + "/" + d->cancelLabel);
        *address = dialogResult == 1 ? new char[6]{'h', 'o', 's', 't', ':', '\0'} : nullptr;
        return dialogResult;
    }
    static void freeText(char* text) {
        ++freed;
        delete[] text;
    }
    static void close() { calls.push_back("close"); }

    static constexpr PellamoDesktopApi api{open, messageBox, showTray, settingsDialog, freeText, close};
};

class PlatformDesktopModule : public testing::Test {
protected:
    void SetUp() override {
        FakeModule::calls.clear();
        FakeModule::answer = 0;
        FakeModule::dialogResult = 1;
        FakeModule::freed = 0;
        desktop::useModuleForTesting(&FakeModule::api);
        previousDefault = platform::defaultQuestionAnswer();
    }
    void TearDown() override {
        desktop::useModuleForTesting(nullptr);
        platform::setDefaultQuestionAnswer(previousDefault);
    }
    int previousDefault = IDNO;
};

TEST_F(PlatformDesktopModule, MessageBoxesBecomeWindowsAndStillGoToStderr) {
    ASSERT_TRUE(desktop::isOpen());
    FakeModule::answer = IDYES;
    testing::internal::CaptureStderr();
    // "Вопрос" / "Обновить?" in the ANSI code page.
    EXPECT_EQ(MessageBoxA(nullptr, "\xCE\xE1\xED\xEE\xE2\xE8\xF2\xFC?", "\xC2\xEE\xEF\xF0\xEE\xF1",
                          MB_YESNO | MB_ICONQUESTION),
              IDYES);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[Вопрос] Обновить?\n");
    ASSERT_EQ(FakeModule::calls.size(), 1U);
    EXPECT_EQ(FakeModule::calls[0], "Вопрос|Обновить?|" + std::to_string(MB_YESNO | MB_ICONQUESTION));
}

TEST_F(PlatformDesktopModule, ABoxTheDesktopCannotShowGetsTheUnattendedAnswer) {
    FakeModule::answer = 0;  // the module is closing
    platform::setDefaultQuestionAnswer(IDYES);
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "q", "c", MB_YESNO), IDYES);
    platform::setDefaultQuestionAnswer(IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "q", "c", MB_YESNO), IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "e", "c", MB_OK | MB_ICONERROR), IDOK);
    // Each box is written once, however it was answered.
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[c] q\n[c] q\n[c] e\n");
}

TEST_F(PlatformDesktopModule, TrayItemsCarryTheirMnemonicAndCallBack) {
    int settings = 0, exits = 0;
    ASSERT_TRUE(desktop::showTray("Pellamo", {{"Настройки", [&] { ++settings; }}, {"&Выход", [&] { ++exits; }}}));
    EXPECT_EQ(FakeModule::calls.back(), "tray pellamo Pellamo pellamo");
    EXPECT_EQ(FakeModule::labels, (std::vector<std::string>{"Настройки", "_Выход"}));
    FakeModule::activated(FakeModule::context, 1);
    FakeModule::activated(FakeModule::context, 0);
    FakeModule::activated(FakeModule::context, 1);
    // Indexes the menu never had are ignored.
    FakeModule::activated(FakeModule::context, 2);
    FakeModule::activated(FakeModule::context, -1);
    EXPECT_EQ(settings, 1);
    EXPECT_EQ(exits, 2);
    // One icon per program.
    EXPECT_FALSE(desktop::showTray("Pellamo", {{"x", [] {}}}));
}

TEST_F(PlatformDesktopModule, SettingsDialogResults) {
    desktop::SettingsDialogTexts texts{"Plugin Pellamo", "a\nb", "V:", "1.01.276", "T:", "h:1", "OK", "Отмена"};
    std::string address = "unchanged";
    EXPECT_EQ(desktop::runSettingsDialog(texts, address), desktop::DialogResult::Ok);
    EXPECT_EQ(address, "host:");
    EXPECT_EQ(FakeModule::freed, 1);
    EXPECT_EQ(FakeModule::calls.back(), "Plugin Pellamo|a\nb|V:1.01.276|T:h:1|OK/Отмена");

    address = "unchanged";
    FakeModule::dialogResult = 0;
    EXPECT_EQ(desktop::runSettingsDialog(texts, address), desktop::DialogResult::Cancelled);
    FakeModule::dialogResult = -1;
    EXPECT_EQ(desktop::runSettingsDialog(texts, address), desktop::DialogResult::NotShown);
    EXPECT_EQ(address, "unchanged");
    EXPECT_EQ(FakeModule::freed, 1);
}

TEST(PlatformDesktopClosed, NothingReachesAModuleThatIsNotThere) {
    desktop::useModuleForTesting(nullptr);
    EXPECT_FALSE(desktop::isOpen());
    EXPECT_EQ(desktop::messageBox("t", "c", MB_OK), 0);
    EXPECT_FALSE(desktop::showTray("Pellamo", {{"x", [] {}}}));
    std::string address;
    EXPECT_EQ(desktop::runSettingsDialog({}, address), desktop::DialogResult::NotShown);
    desktop::close();  // harmless
}

}  // namespace
