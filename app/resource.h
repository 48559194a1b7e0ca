// Identifiers of the program's Windows resources (app/pellamo.rc) and of the
// commands of its tray menu.
#pragma once

// Strings
#define IDS_APP_TITLE 103  // window title
#define IDC_PELLAMO 109    // window class name

// Icons
#define IDI_PELLAMO 107  // class icon
#define IDI_SMALL 108    // small class icon
#define IDI_TRAY 129     // tray icon, also shown in the settings dialog

// Settings dialog and its controls
#define IDD_SETTINGS 103
#define IDC_ADDRESS 1002
#define IDC_VERSION 1003

// Tray menu commands
#define IDM_EXIT 105
#define IDM_SETTINGS 32773

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
