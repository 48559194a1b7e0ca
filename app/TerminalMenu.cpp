#include "app/TerminalMenu.h"

#include "app/Deployment.h"
#include "app/Settings.h"
#include "app/SettingsForm.h"
#include "app/ShellTexts.h"
#include "app/httpServerAddress.h"
#include "core/AppInfo.h"
#include "core/TextConvert.h"
#include "errors/CMsg.h"
#include "errors/eErrCodes.h"

namespace terminal {

namespace {

using namespace shell_texts;

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

void showMenu(std::ostream& out) {
    out << "\n  1  " << kItemSettings << "\n  2  " << kItemExit << "\n> " << std::flush;
}

std::string currentAddressText() {
    return tesel::convertToUTF8(httpSrv::getAddress(getTransportServerAddress()));
}

}  // namespace

MenuChoice parseMenuChoice(const std::string& answer) {
    const std::string a = trim(answer);
    if (a == "1" || a == kItemSettings) return MenuChoice::Settings;
    // "в" and "В": the mnemonic letter of "&Выход".
    if (a == "2" || a == kItemExit || a == kItemExitShown || a == "\xD0\xB2" || a == "\xD0\x92")
        return MenuChoice::Exit;
    return MenuChoice::Unknown;
}

bool runSettingsForm(const LineReader& read, std::ostream& out) {
    const std::string shown = currentAddressText();
    out << "\n" << kDialogCaption << "\n"
        << deployment::cabinetWebAddress() << "\n"
        << kDialogText << "\n"
        << kVersionLabel << " " << tesel::getAppVersion() << "\n"
        << kAddressLabel << " " << shown << "\n"
        << "> " << std::flush;
    std::string answer;
    if (!read(answer)) return false;
    answer = trim(answer);
    applySettingsForm(tesel::convertFromUTF8(answer.empty() ? shown : answer));
    out << tesel::convertToUTF8(getMsgText(MSG_SETTINGS_SAVED)) << " " << kAddressLabel << " "
        << currentAddressText() << "\n"
        << std::flush;
    return true;
}

bool runTrayMenu(const LineReader& read, std::ostream& out) {
    for (;;) {
        showMenu(out);
        std::string answer;
        if (!read(answer)) return false;
        switch (parseMenuChoice(answer)) {
        case MenuChoice::Settings:
            if (!runSettingsForm(read, out)) return false;
            break;
        case MenuChoice::Exit:
            return true;
        case MenuChoice::Unknown:
            out << "Выберите 1 или 2.\n";
            break;
        }
    }
}

}  // namespace terminal
