#include "app/CWindow.h"

std::string CWindow::getText() const {
    if (m_hWnd == nullptr) return {};
    const LRESULT length = SendMessageA(m_hWnd, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0) return {};
    // One more for the terminator that WM_GETTEXT always writes.
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const LRESULT copied = SendMessageA(m_hWnd, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                                        reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied > 0 && copied < length + 1 ? static_cast<std::size_t>(copied) : 0);
    return text;
}
