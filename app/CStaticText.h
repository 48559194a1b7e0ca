// A static text control.
#pragma once

#include <string>

#include "app/CWindow.h"

class CStaticText : public CWindow {
public:
    // Sets the text (WM_SETTEXT, ANSI code page). False when not bound.
    bool setText(const std::string& text);
};
