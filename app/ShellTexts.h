// The texts of the tray menu and of the settings dialog, as the Windows
// resources and tray code have them (UTF-8), for the Linux forms of both:
// the terminal menu and the desktop's tray and dialog.
#pragma once

namespace shell_texts {

inline constexpr const char* kAppTitle = "Pellamo";
inline constexpr const char* kItemSettings = "Настройки";
inline constexpr const char* kItemExit = "&Выход";
inline constexpr const char* kItemExitShown = "Выход";
inline constexpr const char* kDialogCaption = "Plugin Pellamo";
inline constexpr const char* kDialogText = "Плагин для работы с личным кабинетом ";
inline constexpr const char* kVersionLabel = "Версия плагина:";
inline constexpr const char* kAddressLabel = "Транспортный сервер :";

}  // namespace shell_texts
