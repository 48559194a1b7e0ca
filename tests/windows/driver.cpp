// Drives pellamo.exe for the Windows smoke test (run under wine, inside the
// same virtual desktop): starts the program, answers its message boxes, finds
// its hidden main window and its tray icon, opens the tray menu and the
// settings dialog by posting messages, and writes what it saw as "key=value"
// lines (UTF-8) to a log file that the smoke script checks.
//
//   driver <log> expect-exit <program> <seconds>
//       Runs the program until it ends by itself, answering every message
//       box; reports the boxes and the exit code.
//   driver <log> session <program> <new-address> <seconds>
//       Runs a whole session: start (boxes answered), tray icon, WebSocket
//       check by the Linux side, tray menu, settings dialog (new address and
//       OK), "&Выход" from the tray menu, exit code.
//
// Screenshots and the WebSocket check are done by the Linux side; the two
// sides meet through files in the folder "signals" of the working folder: the
// driver creates signals\<name> and waits for signals\<name>.done.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr UINT kTrayCallback = WM_USER + 1;
constexpr UINT kTrayIconId = 100;
constexpr int kIdExit = 105;
constexpr int kIdSettings = 32773;
constexpr int kIdAddress = 1002;
constexpr int kIdVersion = 1003;
constexpr wchar_t kSettingsCaption[] = L"Plugin Pellamo";

std::FILE* g_log = nullptr;
DWORD g_deadline = 0;

std::string utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                      0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n,
                        nullptr, nullptr);
    return out;
}

std::wstring wide(const char* text) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (n <= 1) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text, -1, out.data(), n);
    out.resize(static_cast<std::size_t>(n - 1));  // without the terminator
    return out;
}

// Line breaks are written as "\n" so that every report stays on one line.
void report(const char* key, const std::string& value) {
    std::string flat;
    for (char c : value) {
        if (c == '\r') continue;
        if (c == '\n') flat += "\\n";
        else flat += c;
    }
    std::fprintf(g_log, "%s=%s\n", key, flat.c_str());
    std::fflush(g_log);
}

void report(const char* key, long long value) { report(key, std::to_string(value)); }

bool timeLeft() { return static_cast<LONG>(g_deadline - GetTickCount()) > 0; }

std::wstring className(HWND w) {
    wchar_t buf[256] = {};
    GetClassNameW(w, buf, 256);
    return buf;
}

// Whole window text; WM_GETTEXT is carried across processes by the system.
std::wstring windowText(HWND w) {
    const LRESULT n = SendMessageW(w, WM_GETTEXTLENGTH, 0, 0);
    std::wstring text(static_cast<std::size_t>(n) + 1, L'\0');
    const LRESULT got = SendMessageW(w, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                                     reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(got));
    return text;
}

std::vector<HWND> topWindows(DWORD pid, const wchar_t* cls) {
    struct Query {
        DWORD pid;
        const wchar_t* cls;
        std::vector<HWND> found;
    } q{pid, cls, {}};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* q = reinterpret_cast<Query*>(p);
            DWORD owner = 0;
            GetWindowThreadProcessId(w, &owner);
            if ((q->pid == 0 || owner == q->pid) && IsWindowVisible(w) &&
                (q->cls == nullptr || className(w) == q->cls))
                q->found.push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&q));
    return q.found;
}

// Tray icons as wine's shell keeps them. Depending on the version an icon is
// a window of its own (class "__wine_tray_icon") or is drawn by the taskbar
// itself, which then makes one tooltip window per icon. Either is counted;
// the smoke test compares the count with the one before the program started
// and also looks for the icon's pixels in a screenshot.
int countTrayIcons() {
    struct Count {
        DWORD shellPid = 0;
        int icons = 0;
        int tooltips = 0;
    } c;
    if (HWND tray = FindWindowW(L"Shell_TrayWnd", nullptr)) GetWindowThreadProcessId(tray, &c.shellPid);
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* c = reinterpret_cast<Count*>(p);
            const std::wstring cls = className(w);
            DWORD pid = 0;
            GetWindowThreadProcessId(w, &pid);
            if (cls == L"__wine_tray_icon" && IsWindowVisible(w)) ++c->icons;
            if (cls == L"tooltips_class32" && c->shellPid != 0 && pid == c->shellPid) ++c->tooltips;
            EnumChildWindows(
                w,
                [](HWND child, LPARAM q) -> BOOL {
                    if (className(child) == L"__wine_tray_icon" && IsWindowVisible(child))
                        ++reinterpret_cast<Count*>(q)->icons;
                    return TRUE;
                },
                p);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&c));
    return c.icons > 0 ? c.icons : c.tooltips;
}

// The count before the program starts, once the taskbar is there.
int trayBaseline() {
    for (int i = 0; i < 50 && !FindWindowW(L"Shell_TrayWnd", nullptr); ++i) Sleep(100);
    Sleep(200);
    return countTrayIcons();
}

// The caption and static texts of a dialog, joined with " | ".
std::string describeDialog(HWND dlg) {
    struct Texts {
        std::wstring joined;
    } t;
    EnumChildWindows(
        dlg,
        [](HWND c, LPARAM p) -> BOOL {
            if (className(c) == L"Static") {
                const std::wstring text = windowText(c);
                // An icon control's text is the resource ordinal (0xFFFF, id).
                if (!text.empty() && text[0] != 0xFFFF) {
                    auto* t = reinterpret_cast<Texts*>(p);
                    if (!t->joined.empty()) t->joined += L" | ";
                    t->joined += text;
                }
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&t));
    return utf8(windowText(dlg)) + " :: " + utf8(t.joined);
}

void pressButton(HWND dlg, int id) {
    HWND button = GetDlgItem(dlg, id);
    PostMessageW(dlg, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

// Answers every visible message box of the process: OK where there is one,
// otherwise No (the default answer of the program's questions), otherwise
// Cancel. The settings dialog is left alone. Returns how many were answered.
int answerBoxes(DWORD pid, int& total) {
    int answered = 0;
    for (HWND dlg : topWindows(pid, L"#32770")) {
        if (windowText(dlg) == kSettingsCaption) continue;
        ++total;
        report("box", describeDialog(dlg));
        if (GetDlgItem(dlg, IDOK)) pressButton(dlg, IDOK);
        else if (GetDlgItem(dlg, IDNO)) pressButton(dlg, IDNO);
        else pressButton(dlg, IDCANCEL);
        ++answered;
        // Give the box time to go before it is looked for again.
        for (int i = 0; i < 50 && IsWindow(dlg) && IsWindowVisible(dlg); ++i) Sleep(100);
    }
    return answered;
}

bool startProgram(const std::wstring& path, PROCESS_INFORMATION& pi) {
    STARTUPINFOW si{};
    si.cb = sizeof si;
    std::wstring commandLine = L"\"" + path + L"\"";
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &si, &pi)) {
        report("start", "failed, error " + std::to_string(GetLastError()));
        return false;
    }
    report("start", "ok");
    return true;
}

void reportExit(PROCESS_INFORMATION& pi) {
    const DWORD left = static_cast<DWORD>(std::max<LONG>(0, static_cast<LONG>(g_deadline - GetTickCount())));
    if (WaitForSingleObject(pi.hProcess, left) != WAIT_OBJECT_0) {
        report("exit", "timeout");
        TerminateProcess(pi.hProcess, 255);
        return;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    report("exit", static_cast<long long>(code));
}

bool fileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Asks the Linux side for something (a screenshot, the WebSocket check) and
// waits until it is done, answering the program's message boxes meanwhile.
bool signalAndWait(const char* name, DWORD pid = 0, int* boxes = nullptr) {
    CreateDirectoryW(L"signals", nullptr);
    const std::wstring request = L"signals\\" + wide(name);
    HANDLE f = CreateFileW(request.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f != INVALID_HANDLE_VALUE) CloseHandle(f);
    const std::wstring done = request + L".done";
    while (timeLeft()) {
        if (fileExists(done)) return true;
        if (boxes) answerBoxes(pid, *boxes);
        Sleep(100);
    }
    report("signal_timeout", name);
    return false;
}

HWND waitForMenu(DWORD pid, int ms) {
    for (int waited = 0; waited < ms && timeLeft(); waited += 100) {
        const auto menus = topWindows(pid, L"#32768");
        if (!menus.empty()) return menus.front();
        // Popup menus may belong to the system rather than to the program.
        const auto any = topWindows(0, L"#32768");
        if (!any.empty()) return any.front();
        Sleep(100);
    }
    return nullptr;
}

HWND waitForSettingsDialog(DWORD pid, int ms) {
    for (int waited = 0; waited < ms && timeLeft(); waited += 100) {
        for (HWND dlg : topWindows(pid, L"#32770"))
            if (windowText(dlg) == kSettingsCaption) return dlg;
        Sleep(100);
    }
    return nullptr;
}

// Items of an open popup menu, "text|text", or "" when the menu cannot be
// read from another process.
std::string menuItems(HWND menuWindow, std::string& ids) {
    constexpr UINT kGetMenu = 0x01E1;  // MN_GETHMENU
    auto menu = reinterpret_cast<HMENU>(SendMessageW(menuWindow, kGetMenu, 0, 0));
    const int count = menu ? GetMenuItemCount(menu) : -1;
    if (count <= 0) return {};
    std::wstring items;
    for (int i = 0; i < count; ++i) {
        wchar_t buf[256] = {};
        GetMenuStringW(menu, static_cast<UINT>(i), buf, 256, MF_BYPOSITION);
        if (i) {
            items += L"|";
            ids += "|";
        }
        items += buf;
        ids += std::to_string(static_cast<int>(GetMenuItemID(menu, i)));
    }
    return utf8(items);
}

void postKey(HWND w, WPARAM key) {
    PostMessageW(w, WM_KEYDOWN, key, 1);
    PostMessageW(w, WM_KEYUP, key, static_cast<LPARAM>(0xC0000001u));
}

// Opens the tray menu as a right click on the icon does.
HWND openTrayMenu(HWND main, DWORD pid) {
    PostMessageW(main, kTrayCallback, kTrayIconId, WM_RBUTTONDOWN);
    return waitForMenu(pid, 5000);
}

// Chooses the n-th item (1-based) of the open menu with the arrow keys and
// Enter, as a user does; the program then gets the item's WM_COMMAND.
void chooseMenuItem(HWND menuWindow, int n) {
    for (int i = 0; i < n; ++i) postKey(menuWindow, VK_DOWN);
    postKey(menuWindow, VK_RETURN);
}

// Every window of the desktop, for finding out how a system draws things.
void reportWindows() {
    auto describe = [](HWND w, const char* kind) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        RECT r{};
        GetWindowRect(w, &r);
        report(kind, utf8(className(w)) + " \"" + utf8(windowText(w)) + "\" pid " + std::to_string(pid) +
                         (IsWindowVisible(w) ? " visible " : " hidden ") + std::to_string(r.left) + "," +
                         std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
                         std::to_string(r.bottom - r.top));
    };
    static decltype(describe)* d = &describe;
    EnumWindows(
        [](HWND w, LPARAM) -> BOOL {
            (*d)(w, "window");
            EnumChildWindows(
                w,
                [](HWND c, LPARAM) -> BOOL {
                    (*d)(c, "  child");
                    return TRUE;
                },
                0);
            return TRUE;
        },
        0);
}

int runExpectExit(const std::wstring& program) {
    const int trayBefore = trayBaseline();
    PROCESS_INFORMATION pi{};
    if (!startProgram(program, pi)) return 1;
    int boxes = 0;
    int trayMost = 0;
    while (timeLeft() && WaitForSingleObject(pi.hProcess, 100) == WAIT_TIMEOUT) {
        answerBoxes(pi.dwProcessId, boxes);
        trayMost = std::max(trayMost, countTrayIcons() - trayBefore);
    }
    report("boxes", boxes);
    report("tray_icons", trayMost);
    reportExit(pi);
    return 0;
}

int runSession(const std::wstring& program, const std::wstring& newAddress) {
    const int trayBefore = trayBaseline();
    PROCESS_INFORMATION pi{};
    if (!startProgram(program, pi)) return 1;
    const DWORD pid = pi.dwProcessId;

    // Start: answer the boxes until the tray icon is there.
    int boxes = 0;
    HWND main = nullptr;
    bool trayShown = false;
    while (timeLeft() && WaitForSingleObject(pi.hProcess, 100) == WAIT_TIMEOUT) {
        answerBoxes(pid, boxes);
        if (main == nullptr) {
            HWND w = FindWindowW(L"PELLAMO", nullptr);
            DWORD owner = 0;
            if (w) GetWindowThreadProcessId(w, &owner);
            if (w && owner == pid) main = w;
        }
        if (main && countTrayIcons() > trayBefore) {
            trayShown = true;
            break;
        }
    }
    // A late box would still be on screen: give it a moment to appear.
    Sleep(500);
    answerBoxes(pid, boxes);
    report("boxes", boxes);
    report("main_window", main ? "found" : "missing");
    if (main) {
        report("main_window_title", utf8(windowText(main)));
        report("main_window_visible", IsWindowVisible(main) ? 1 : 0);
    }
    report("tray_icon", trayShown ? 1 : 0);
    if (!main || !trayShown) {
        reportWindows();
        TerminateProcess(pi.hProcess, 255);
        report("end", "start failed");
        return 1;
    }
    if (!signalAndWait("ready", pid, &boxes)) {
        TerminateProcess(pi.hProcess, 255);
        return 1;
    }

    // Tray menu, then "Настройки".
    HWND menu = openTrayMenu(main, pid);
    report("menu", menu ? "shown" : "missing");
    if (menu) {
        std::string ids;
        const std::string items = menuItems(menu, ids);
        report("menu_items", items.empty() ? "unreadable" : items);
        if (!ids.empty()) report("menu_ids", ids);
        signalAndWait("menu");
        chooseMenuItem(menu, 1);
    }
    HWND dlg = waitForSettingsDialog(pid, 5000);
    if (!dlg) {
        // The menu did not answer the keys: ask for the dialog directly.
        report("settings_opened_by", "WM_COMMAND");
        if (menu && IsWindow(menu)) postKey(menu, VK_ESCAPE);
        PostMessageW(main, WM_COMMAND, MAKEWPARAM(kIdSettings, 0), 0);
        dlg = waitForSettingsDialog(pid, 10000);
    } else {
        report("settings_opened_by", "menu");
    }
    report("dialog", dlg ? "shown" : "missing");
    if (dlg) {
        report("dialog_version", utf8(windowText(GetDlgItem(dlg, kIdVersion))));
        report("dialog_address", utf8(windowText(GetDlgItem(dlg, kIdAddress))));
        report("dialog_texts", describeDialog(dlg));
        signalAndWait("dialog");
        SendMessageW(GetDlgItem(dlg, kIdAddress), WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>(newAddress.c_str()));
        pressButton(dlg, IDOK);
        for (int i = 0; i < 50 && IsWindow(dlg); ++i) Sleep(100);
        report("dialog_after_ok", IsWindow(dlg) ? "open" : "closed");
    }
    signalAndWait("saved");

    // "&Выход" from the tray menu, by its mnemonic, ends the program.
    menu = openTrayMenu(main, pid);
    if (menu) {
        PostMessageW(menu, WM_CHAR, L'\u0432', 1);  // "в"
        if (WaitForSingleObject(pi.hProcess, 5000) == WAIT_OBJECT_0) {
            report("exit_chosen_by", "mnemonic");
        } else {
            report("exit_chosen_by", "WM_COMMAND");
            if (IsWindow(menu)) postKey(menu, VK_ESCAPE);
            PostMessageW(main, WM_COMMAND, MAKEWPARAM(kIdExit, 0), 0);
        }
    } else {
        report("exit_chosen_by", "WM_COMMAND");
        PostMessageW(main, WM_COMMAND, MAKEWPARAM(kIdExit, 0), 0);
    }
    reportExit(pi);
    // Whether the icon is gone is told by a screenshot: wine's taskbar keeps
    // the tooltip of a removed icon.
    signalAndWait("exited");
    report("end", "ok");
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 5) {
        std::fputs("usage: driver <log> expect-exit <program> <seconds>\n"
                   "       driver <log> session <program> <new-address> <seconds>\n",
                   stderr);
        return 2;
    }
    g_log = _wfopen(argv[1], L"wb");
    if (g_log == nullptr) return 2;
    const std::wstring mode = argv[2];
    const std::wstring program = argv[3];
    int seconds = 60;
    if (mode == L"expect-exit") {
        seconds = _wtoi(argv[4]);
    } else if (mode == L"session" && argc >= 6) {
        seconds = _wtoi(argv[5]);
    } else {
        report("error", "bad arguments");
        return 2;
    }
    g_deadline = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
    const int rc = mode == L"expect-exit" ? runExpectExit(program) : runSession(program, argv[4]);
    std::fclose(g_log);
    return rc;
}
