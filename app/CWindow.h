// A control with a window text.
#pragma once

#include <string>

#include "app/CCommonControl.h"

class CWindow : public CCommonControl {
public:
    // The control's whole text (WM_GETTEXTLENGTH, then WM_GETTEXT), in the
    // ANSI code page; empty when the control is not bound.
    std::string getText() const;
};
