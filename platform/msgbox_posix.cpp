// Message boxes: the caption and text always go to the standard error
// stream as "[caption] text" in UTF-8. In a graphical session the box is
// then shown as a window and answered there. Without one, a Yes/No question
// is asked on the terminal when standard input is one; otherwise (a
// service, a test run) the configured default answers it, so nothing ever
// waits for a person who is not there. Boxes from several threads are
// written one at a time.
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <string>

#include "platform/desktop.h"
#include "platform/headless.h"
#include "platform/win32.h"

namespace {

std::mutex& outputMutex() {
    static std::mutex m;
    return m;
}

std::string utf8FromWide(LPCWSTR text) {
    if (text == nullptr || *text == 0) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<std::size_t>(n - 1));
    return out;
}

std::u16string wideFromAnsi(LPCSTR text) {
    if (text == nullptr || *text == '\0') return {};
    const int n = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (n <= 0) return {};
    std::u16string out(static_cast<std::size_t>(n), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, out.data(), n);
    return out;
}

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

// 0 when the reply is neither yes nor no.
int parseAnswer(const std::string& reply) {
    static const char* const yes[] = {"y", "yes", "Y", "YES", "Yes", "\xD0\xB4", "\xD0\x94",
                                      "\xD0\xB4\xD0\xB0", "\xD0\x94\xD0\xB0", "\xD0\x94\xD0\x90"};
    static const char* const no[] = {"n", "no", "N", "NO", "No", "\xD0\xBD", "\xD0\x9D",
                                     "\xD0\xBD\xD0\xB5\xD1\x82", "\xD0\x9D\xD0\xB5\xD1\x82",
                                     "\xD0\x9D\xD0\x95\xD0\xA2"};
    const std::string r = trim(reply);
    for (const char* y : yes) {
        if (r == y) return IDYES;
    }
    for (const char* n : no) {
        if (r == n) return IDNO;
    }
    return 0;
}

int askOnTerminal() {
    for (;;) {
        std::fputs("\xD0\x94\xD0\xB0/\xD0\x9D\xD0\xB5\xD1\x82 (y/n)? ", stderr);  // "Да/Нет"
        std::fflush(stderr);
        std::string line;
        int c = 0;
        while ((c = std::getchar()) != EOF && c != '\n') line.push_back(static_cast<char>(c));
        const int answer = parseAnswer(line);
        if (answer != 0) return answer;
        if (c == EOF) return platform::defaultQuestionAnswer();
    }
}

void writeLine(const std::string& caption, const std::string& text) {
    const std::string line = "[" + caption + "] " + text + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

int answerWithoutDesktop(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL:
        return isatty(STDIN_FILENO) ? askOnTerminal() : platform::defaultQuestionAnswer();
    default:
        return IDOK;
    }
}

int show(const std::string& caption, const std::string& text, UINT type) {
    if (platform::desktop::isOpen()) {
        {
            std::lock_guard<std::mutex> lock(outputMutex());
            writeLine(caption, text);
        }
        // Not under the lock: the desktop's own thread may show a box of
        // its own while another thread's box waits for its answer.
        const int answer = platform::desktop::messageBox(text, caption, type);
        if (answer != 0) return answer;
    }
    std::lock_guard<std::mutex> lock(outputMutex());
    if (!platform::desktop::isOpen()) writeLine(caption, text);
    return answerWithoutDesktop(type);
}

}  // namespace

int MessageBoxW(HWND /*owner*/, LPCWSTR text, LPCWSTR caption, UINT type) {
    return show(utf8FromWide(caption), utf8FromWide(text), type);
}

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    const std::u16string wideText = wideFromAnsi(text);
    const std::u16string wideCaption = wideFromAnsi(caption);
    return MessageBoxW(owner, wideText.c_str(), wideCaption.c_str(), type);
}
