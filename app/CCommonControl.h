// Thin wrappers around the controls of a dialog. CCommonControl holds the
// control's window handle, which init fetches from the dialog.
#pragma once

#include "platform/win32.h"

class CCommonControl {
public:
    virtual ~CCommonControl() = default;

    // Binds the wrapper to the dialog's control with that id (GetDlgItem).
    // Returns whether the control was found.
    bool init(HWND dialog, int controlId);

    HWND getHandle() const { return m_hWnd; }
    bool isBound() const { return m_hWnd != nullptr; }

protected:
    HWND m_hWnd = nullptr;
};
