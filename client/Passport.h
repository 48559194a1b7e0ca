// Identity document of the contact person of a client card. Texts are CP1251.
#pragma once

#include <string>

#include "platform/win32.h"

namespace tesel {

// Kind of identity document, by the codes of the Russian document-type
// classifier; a card without one holds the domestic passport (21).
enum ePassportDocType : int {
    PDT_BIRTH_CERTIFICATE = 3,
    PDT_MILITARY_ID = 7,
    PDT_FOREIGN_PASSPORT = 10,
    PDT_RESIDENCE_PERMIT = 12,
    PDT_PASSPORT_RF = 21,
};

enum SexPerson : int {
    SEX_NOT_SET = -1,
    SEX_MALE = 1,
    SEX_FEMALE = 2,
};

class Passport {
public:
    Passport() = default;

    ePassportDocType getDocType() const { return m_docType; }
    void setDocType(ePassportDocType v) { m_docType = v; }
    const std::string& getSeries() const { return m_series; }
    void setSeries(const std::string& v) { m_series = v; }
    const std::string& getNumber() const { return m_number; }
    void setNumber(const std::string& v) { m_number = v; }
    const std::string& getDivisionCode() const { return m_divisionCode; }
    void setDivisionCode(const std::string& v) { m_divisionCode = v; }
    const std::string& getIssuer() const { return m_issuer; }
    void setIssuer(const std::string& v) { m_issuer = v; }
    const SYSTEMTIME& getIssueDate() const { return m_issueDate; }
    void setIssueDate(const SYSTEMTIME& v) { m_issueDate = v; }
    const std::string& getPlaceBirth() const { return m_placeBirth; }
    void setPlaceBirth(const std::string& v) { m_placeBirth = v; }
    const SYSTEMTIME& getBirtday() const { return m_birthday; }
    void setBirtday(const SYSTEMTIME& v) { m_birthday = v; }
    SexPerson getSex() const { return m_sex; }
    void setSex(SexPerson v) { m_sex = v; }

    // The division code has exactly 6 characters.
    bool checkDivisionCode() const;
    // The sex has been set.
    bool checkGender() const;
    // Back to a fresh passport: empty texts and dates, type 21, sex unset.
    void clear();
    // Cuts every text at its first zero byte.
    void trimNULLInStrings();

    bool operator==(const Passport& other) const;

private:
    ePassportDocType m_docType = PDT_PASSPORT_RF;
    std::string m_series;
    std::string m_number;
    std::string m_divisionCode;
    std::string m_issuer;
    SYSTEMTIME m_issueDate{};
    std::string m_placeBirth;
    SYSTEMTIME m_birthday{};
    SexPerson m_sex = SEX_NOT_SET;
};

// Cuts s at its first zero byte.
void trimNULLStr(std::string& s);

}  // namespace tesel
