#include "app/CEditText.h"

bool CEditText::setText(const std::string& text) {
    if (m_hWnd == nullptr) return false;
    if (m_limit != 0 && text.size() > m_limit) return false;
    return SendMessageA(m_hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) != FALSE;
}

bool CEditText::setTextLimit(unsigned characters) {
    if (m_hWnd == nullptr) return false;
    SendMessageA(m_hWnd, EM_LIMITTEXT, static_cast<WPARAM>(characters), 0);
    m_limit = characters;
    return true;
}
