// The program's tray icon on a Linux desktop: the same two items as the
// Windows tray menu, "Настройки" (the settings dialog) and "&Выход" (ends
// the program with status 0), shown by the platform's desktop.
#pragma once

namespace desktop_tray {

// Puts the icon into the tray; false when there is no desktop (the caller
// then offers the terminal menu instead).
bool show();

// The settings dialog: the cabinet's web address, the version and the
// transport server's host:port; OK applies and saves the address as the
// Windows dialog does, Cancel changes nothing. One at a time.
void runSettingsDialog();

}  // namespace desktop_tray
