#include "app/SettingsDialog_win.h"

#include "app/CEditText.h"
#include "app/CStaticText.h"
#include "app/Settings.h"
#include "app/SettingsForm.h"
#include "app/httpServerAddress.h"
#include "app/resource.h"
#include "core/AppInfo.h"

namespace {

// The wrappers live as long as the process and are bound anew each time the
// dialog opens.
CStaticText g_versionText;
CEditText g_addressEdit;

}  // namespace

INT_PTR CALLBACK HandlerWndSettings(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
    case WM_INITDIALOG:
        if (g_versionText.init(dialog, IDC_VERSION)) g_versionText.setText(tesel::getAppVersion());
        if (g_addressEdit.init(dialog, IDC_ADDRESS))
            g_addressEdit.setText(httpSrv::getAddress(getTransportServerAddress()));
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            // Applied when it parses, saved in every case.
            applySettingsForm(g_addressEdit.getText());
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL:
            // The close box and Esc: the dialog closes and nothing changes.
            EndDialog(dialog, 0);
            return TRUE;
        default:
            break;
        }
        break;
    default:
        break;
    }
    return FALSE;
}
