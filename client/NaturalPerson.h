// The person part of a client card: the contact person's name, registration
// numbers, e-mail, job title and passport. Texts are CP1251.
#pragma once

#include <string>

#include "client/Passport.h"

namespace tesel {

class NaturalPerson {
public:
    const std::string& getSurname() const { return m_surname; }
    void setSurname(const std::string& v) { m_surname = v; }
    const std::string& getName() const { return m_name; }
    void setName(const std::string& v) { m_name = v; }
    const std::string& getPatronymic() const { return m_patronymic; }
    void setPatronymic(const std::string& v) { m_patronymic = v; }
    const std::string& getSNILS() const { return m_snils; }
    void setSNILS(const std::string& v) { m_snils = v; }
    const std::string& getEmail() const { return m_email; }
    void setEmail(const std::string& v) { m_email = v; }
    const std::string& getPosition() const { return m_position; }
    void setPosition(const std::string& v) { m_position = v; }
    const std::string& getINN() const { return m_inn; }
    void setINN(const std::string& v) { m_inn = v; }
    Passport& getPassport() { return m_passport; }
    const Passport& getPassport() const { return m_passport; }
    void setPassport(const Passport& v) { m_passport = v; }

    // Surname, name and patronymic separated by blanks; the blanks are there
    // even when a part is empty.
    std::string getFullName() const;

    // Cuts every text, the passport's included, at its first zero byte.
    void trimNULLInStrings();

    bool operator==(const NaturalPerson& other) const = default;

private:
    std::string m_surname;
    std::string m_name;
    std::string m_patronymic;
    std::string m_snils;
    std::string m_email;
    std::string m_position;
    std::string m_inn;
    Passport m_passport;
};

}  // namespace tesel
