// The settings dialog (resource IDD_SETTINGS): shows the program's version
// and the transport server's host:port; OK applies and saves the address.
#pragma once

#include "platform/win32.h"

// The dialog procedure, for DialogBoxParam.
INT_PTR CALLBACK HandlerWndSettings(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
