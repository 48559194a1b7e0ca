// Entry of the Windows program: a hidden main window that owns the tray icon
// and its menu; the start sequence runs before the icon appears.
#include <cstring>

#include "app/InstanceGuard.h"
#include "app/ProgramLog.h"
#include "app/SettingsDialog_win.h"
#include "app/VUzeVorido.h"
#include "app/resource.h"
#include "core/eQuorinType.h"
#include "errors/MsgBox.h"
#include "errors/eErrCodes.h"
#include "platform/dynlib.h"
#include "platform/winshell_win.h"
#include "update/RestartSignal.h"

namespace {

constexpr int kMaxLoadString = 100;
constexpr UINT kTrayCallbackMessage = WM_USER + 1;  // 1025
constexpr UINT kTrayIconId = 100;

HINSTANCE g_instance = nullptr;
WCHAR g_title[kMaxLoadString];
WCHAR g_windowClass[kMaxLoadString];
// The settings dialog is modal, but the tray icon still reaches the main
// window while it is open: a second dialog would rebind the same control
// wrappers and leave the first one reading a destroyed control.
bool g_settingsOpen = false;

NOTIFYICONDATAA trayIconData(HWND window) {
    NOTIFYICONDATAA data{};
    data.cbSize = sizeof data;
    data.hWnd = window;
    data.uID = kTrayIconId;
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = kTrayCallbackMessage;
    data.hIcon = LoadIconA(g_instance, MAKEINTRESOURCEA(IDI_TRAY));
    char title[kMaxLoadString] = {};
    LoadStringA(g_instance, IDS_APP_TITLE, title, kMaxLoadString);
    std::strncpy(data.szTip, title, sizeof data.szTip - 1);
    return data;
}

void showTrayMenu(HWND window) {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return;
    AppendMenuW(menu, MF_STRING, IDM_SETTINGS, L"Настройки");
    AppendMenuW(menu, MF_STRING, IDM_EXIT, L"&Выход");
    POINT cursor{};
    GetCursorPos(&cursor);
    // The menu only closes on a click elsewhere when its owner is the
    // foreground window, and the message after it lets it go away at once.
    SetForegroundWindow(window);
    TrackPopupMenu(menu, 0, cursor.x, cursor.y, 0, window, nullptr);
    PostMessageW(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

void runSettingsDialog(HWND window) {
    if (g_settingsOpen) return;
    g_settingsOpen = true;
    DialogBoxParamW(g_instance, MAKEINTRESOURCEW(IDD_SETTINGS), window, HandlerWndSettings, 0);
    g_settingsOpen = false;
}

}  // namespace

ATOM MyRegisterClass(HINSTANCE instance);
int InitInstance(HINSTANCE instance, int showCommand);
LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
int collapseToTray(HWND window);

int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/, int showCommand) {
    // Before anything can load a library by name: a file of that name in
    // the current or the program's folder must not be picked up.
    platform::restrictLibrarySearch();
    // A GUI program's standard error leads nowhere: the log is where a
    // person finds what the program said.
    app::startLog();
    if (!app::takeInstanceLock()) {
        app::stopLog();
        return ERR_OK;
    }
    LoadStringW(instance, IDS_APP_TITLE, g_title, kMaxLoadString);
    LoadStringW(instance, IDC_PELLAMO, g_windowClass, kMaxLoadString);
    MyRegisterClass(instance);

    const int started = InitInstance(instance, showCommand);
    if (started != ERR_OK) {
        msgError(nullptr, started, tesel::QN_PLUGIN);
        app::stopLog();
        return started;
    }

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    app::stopLog();
    return static_cast<int>(message.wParam);
}

ATOM MyRegisterClass(HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WndProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PELLAMO));
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = g_windowClass;
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
    return RegisterClassExW(&windowClass);
}

int InitInstance(HINSTANCE instance, int /*showCommand*/) {
    g_instance = instance;
    HWND window = CreateWindowW(g_windowClass, g_title, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0, CW_USEDEFAULT,
                                0, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return ERR_INTERNAL;

    VUzeVorido& application = getApplication();
    application.setInstance(instance);
    application.setMainWnd(window);
    const int started = application.start();
    if (started != ERR_OK) return started;

    // After an installed update the window is already gone (and its icon
    // removed): adding the icon now would leave one that nothing removes.
    if (qn::update::isRestartRequested() || !IsWindow(window)) return ERR_OK;
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);
    collapseToTray(window);
    return ERR_OK;
}

int collapseToTray(HWND window) {
    NOTIFYICONDATAA data = trayIconData(window);
    Shell_NotifyIconA(NIM_ADD, &data);
    return 0;
}

LRESULT CALLBACK WndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDM_EXIT:
            DestroyWindow(window);
            return 0;
        case IDM_SETTINGS:
            runSettingsDialog(window);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
        }
    case kTrayCallbackMessage:
        if (LOWORD(lParam) == WM_RBUTTONDOWN) showTrayMenu(window);
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        BeginPaint(window, &paint);
        EndPaint(window, &paint);
        return 0;
    }
    case WM_DESTROY: {
        NOTIFYICONDATAA data = trayIconData(window);
        Shell_NotifyIconA(NIM_DELETE, &data);
        PostQuitMessage(0);
        return 0;
    }
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
