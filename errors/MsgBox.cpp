#include "errors/MsgBox.h"

#include <array>

#include "core/TextConvert.h"

std::string getCaption(tesel::eQuorinType type) {
    // Converted once; afterwards only read, from any thread, and never
    // destroyed (service threads outlive the exit).
    static const std::array<std::string, 5>& captions = *new std::array<std::string, 5>{
        tesel::convertFromUTF8("Quorin"),            // unspecified
        tesel::convertFromUTF8("Quorin"),            // client
        tesel::convertFromUTF8("Quorin. Партнёр"),   // partner
        tesel::convertFromUTF8("Quorin. УЦ"),        // CA
        tesel::convertFromUTF8("Pellamo Plugin"),    // this program
    };
    const int i = static_cast<int>(type);
    return i >= 0 && i < static_cast<int>(captions.size()) ? captions[i] : captions[0];
}

int msgError(HWND owner, int code, tesel::eQuorinType type) {
    return MessageBoxA(owner, getErrorText(code).c_str(), getCaption(type).c_str(),
                       MB_ICONERROR | MB_OK);
}

int msgInfo(HWND owner, eMsgCode code, tesel::eQuorinType type) {
    return MessageBoxA(owner, getMsgText(code).c_str(), getCaption(type).c_str(),
                       MB_ICONINFORMATION | MB_OK);
}

int msgQuestion(HWND owner, const std::string& text, tesel::eQuorinType type) {
    return MessageBoxA(owner, text.c_str(), getCaption(type).c_str(), MB_ICONQUESTION | MB_YESNO);
}
