#include "app/DesktopTray.h"

#include <atomic>
#include <string>

#include "app/Deployment.h"
#include "app/MainLoop.h"
#include "app/Settings.h"
#include "app/SettingsForm.h"
#include "app/ShellTexts.h"
#include "app/httpServerAddress.h"
#include "core/AppInfo.h"
#include "core/TextConvert.h"
#include "errors/eErrCodes.h"
#include "platform/desktop.h"

namespace desktop_tray {

using namespace shell_texts;

bool show() {
    std::vector<platform::desktop::TrayItem> items{
        {kItemSettings, [] { runSettingsDialog(); }},
        {kItemExit, [] { app::requestMainLoopEnd(ERR_OK); }},
    };
    return platform::desktop::showTray(kAppTitle, std::move(items));
}

void runSettingsDialog() {
    // The menu stays usable while the dialog is open: a second choice of
    // "Настройки" must not open a second dialog over the first.
    static std::atomic<bool> open{false};
    if (open.exchange(true)) return;
    platform::desktop::SettingsDialogTexts texts;
    texts.caption = kDialogCaption;
    texts.text = std::string(deployment::cabinetWebAddress()) + "\n" + kDialogText;
    texts.versionLabel = kVersionLabel;
    texts.version = tesel::getAppVersion();
    texts.addressLabel = kAddressLabel;
    texts.address = tesel::convertToUTF8(httpSrv::getAddress(getTransportServerAddress()));
    texts.okLabel = "OK";
    texts.cancelLabel = "Отмена";
    std::string address;
    if (platform::desktop::runSettingsDialog(texts, address) == platform::desktop::DialogResult::Ok)
        applySettingsForm(tesel::convertFromUTF8(address));
    open = false;
}

}  // namespace desktop_tray
