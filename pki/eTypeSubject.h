// Kind of applicant. The values are part of the client card format; -1
// stands for any kind in the certificate template catalog.
#pragma once

namespace tesel {

enum eTypeSubject : int {
    TS_ANY = -1,
    TS_LEGAL_ENTITY = 0,
    TS_NATURAL_PERSON = 1,
    TS_ENTREPRENEUR = 2,
};

inline constexpr int kTypeSubjectCount = 3;

// Display names (CP1251), indexed by the value.
extern const char* const eTypeSubjectString[kTypeSubjectCount];

// The display name of v, or "" for a value outside 0 to 2.
const char* getTypeSubjectString(int v);

}  // namespace tesel
