#include "client/Passport.h"

#include <cstring>

namespace tesel {

void trimNULLStr(std::string& s) {
    const auto zero = s.find('\0');
    if (zero != std::string::npos) s.resize(zero);
}

bool Passport::checkDivisionCode() const { return m_divisionCode.size() == 6; }

bool Passport::checkGender() const { return m_sex != SEX_NOT_SET; }

void Passport::clear() { *this = Passport(); }

void Passport::trimNULLInStrings() {
    for (std::string* s : {&m_series, &m_number, &m_divisionCode, &m_issuer, &m_placeBirth})
        trimNULLStr(*s);
}

bool Passport::operator==(const Passport& other) const {
    return m_docType == other.m_docType && m_series == other.m_series &&
           m_number == other.m_number && m_divisionCode == other.m_divisionCode &&
           m_issuer == other.m_issuer &&
           std::memcmp(&m_issueDate, &other.m_issueDate, sizeof(SYSTEMTIME)) == 0 &&
           m_placeBirth == other.m_placeBirth &&
           std::memcmp(&m_birthday, &other.m_birthday, sizeof(SYSTEMTIME)) == 0 &&
           m_sex == other.m_sex;
}

}  // namespace tesel
