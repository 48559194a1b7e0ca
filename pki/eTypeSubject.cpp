#include "pki/eTypeSubject.h"

namespace tesel {

// CP1251 display names.
const char* const eTypeSubjectString[kTypeSubjectCount] = {
    "\xDE\xF0\xE8\xE4\xE8\xF7\xE5\xF1\xEA\xEE\xE5 \xEB\xE8\xF6\xEE",  // Юридическое лицо
    "\xD4\xE8\xE7\xE8\xF7\xE5\xF1\xEA\xEE\xE5 \xEB\xE8\xF6\xEE",  // Физическое лицо
    "\xC8\xED\xE4\xE8\xE2\xE8\xE4\xF3\xE0\xEB\xFC\xED\xFB\xE9 \xEF\xF0\xE5\xE4\xEF\xF0\xE8\xED\xE8\xEC\xE0\xF2\xE5\xEB\xFC",  // Индивидуальный предприниматель
};

const char* getTypeSubjectString(int v) {
    return v >= 0 && v < kTypeSubjectCount ? eTypeSubjectString[v] : "";
}

}  // namespace tesel
