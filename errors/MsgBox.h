// Message boxes with the catalog texts, captioned by product variant. Texts
// and captions are in the ANSI code page (CP1251), as MessageBoxA expects.
#pragma once

#include <string>

#include "core/eQuorinType.h"
#include "core/export.h"
#include "errors/CError.h"
#include "errors/CMsg.h"
#include "platform/win32.h"

// The caption of message boxes for a product variant (CP1251); a value
// outside the known variants gets the family name "Quorin".
UPD_QN_API std::string getCaption(tesel::eQuorinType type);

// The error's text with the error icon and an OK button. Returns the button.
UPD_QN_API int msgError(HWND owner, int code, tesel::eQuorinType type);

// The notice's text with the information icon and an OK button.
UPD_QN_API int msgInfo(HWND owner, eMsgCode code, tesel::eQuorinType type);

// A Yes/No question with the given text (CP1251). Returns IDYES or IDNO.
UPD_QN_API int msgQuestion(HWND owner, const std::string& text, tesel::eQuorinType type);
