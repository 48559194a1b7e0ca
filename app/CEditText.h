// A single-line edit control.
#pragma once

#include <string>

#include "app/CWindow.h"

class CEditText : public CWindow {
public:
    // Sets the text (WM_SETTEXT, ANSI code page). False when not bound, or
    // when a text limit was set and the text is longer.
    bool setText(const std::string& text);

    // Limits what the user can type (EM_LIMITTEXT); 0 removes the limit.
    // False when not bound.
    bool setTextLimit(unsigned characters);
    unsigned getTextLimit() const { return m_limit; }

private:
    unsigned m_limit = 0;  // 0: none set
};
