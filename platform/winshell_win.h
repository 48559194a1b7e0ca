// The Windows shell and common user-interface declarations (tray icons)
// beyond platform/win32.h. Windows only: include it from *_win.cpp files.
#pragma once

#include "platform/win32.h"

#include <shellapi.h>
