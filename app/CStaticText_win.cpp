#include "app/CStaticText.h"

bool CStaticText::setText(const std::string& text) {
    if (m_hWnd == nullptr) return false;
    return SendMessageA(m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) != FALSE;
}
