#include "app/CCommonControl.h"

bool CCommonControl::init(HWND dialog, int controlId) {
    m_hWnd = GetDlgItem(dialog, controlId);
    return m_hWnd != nullptr;
}
