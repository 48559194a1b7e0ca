// The desktop of a Linux graphical session: the tray icon with its menu,
// the settings dialog and message boxes as windows, which Windows gives the
// program through Win32. The windows come from a module loaded at run time
// (pellamo-desktop.so beside the program's libraries), so that a machine
// without a display, or without the GUI libraries, runs the program as
// before: then open() answers false and the callers keep their terminal and
// standard error forms. Texts are UTF-8.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/export.h"
#include "platform/desktop/desktop_api.h"

namespace platform::desktop {

using EnvironmentReader = std::function<const char*(const char* name)>;
using PathProbe = std::function<bool(const std::string& path)>;

// True when the environment describes a graphical session: a display
// (DISPLAY or WAYLAND_DISPLAY) and a session bus (DBUS_SESSION_BUS_ADDRESS,
// or the bus socket $XDG_RUNTIME_DIR/bus). PELLAMO_DESKTOP=0 says no in any
// case, for a program that must stay on the terminal.
UPD_QN_API bool hasGraphicalSession(const EnvironmentReader& env, const PathProbe& exists);

// A menu text with a Windows mnemonic ("&Выход") in the toolkit's form
// ("_Выход"): "&" marks the next letter, "&&" is a plain "&", and a plain
// "_" is doubled so that it shows.
UPD_QN_API std::string toolkitMnemonic(const std::string& windowsText);

// Opens the desktop once, on the first call: in a graphical session, when
// the module loads and the display opens. From then on message boxes are
// also shown as windows. False (and nothing changes) otherwise.
UPD_QN_API bool open();
UPD_QN_API bool isOpen();

// Removes the icon, closes open windows and ends the desktop; idempotent.
UPD_QN_API void close();

// A modal message box (MessageBox's type flags); returns the button as
// IDOK, IDCANCEL, IDYES or IDNO, or 0 when no desktop can show it.
UPD_QN_API int messageBox(const std::string& text, const std::string& caption, unsigned type);

struct TrayItem {
    std::string text;  // with a Windows mnemonic, if any
    std::function<void()> chosen;  // runs on the desktop's thread
};

// Puts the program's icon (the image pellamo.png beside the module, else the
// icon theme's "pellamo") with a menu of the items into the tray. False
// when the desktop is not open or the icon cannot be made.
UPD_QN_API bool showTray(const std::string& title, std::vector<TrayItem> items);

struct SettingsDialogTexts {
    std::string caption, text, versionLabel, version, addressLabel, address, okLabel, cancelLabel;
};
enum class DialogResult { Ok, Cancelled, NotShown };

// Runs the settings dialog modally; on OK, `address` holds the edit
// field's text.
UPD_QN_API DialogResult runSettingsDialog(const SettingsDialogTexts& texts, std::string& address);

// Tests: use this interface as if it were the loaded module's and open()
// had succeeded (null: back to none).
UPD_QN_API void useModuleForTesting(const PellamoDesktopApi* api);

}  // namespace platform::desktop
