#include "client/NaturalPerson.h"

namespace tesel {

std::string NaturalPerson::getFullName() const {
    return m_surname + ' ' + m_name + ' ' + m_patronymic;
}

void NaturalPerson::trimNULLInStrings() {
    for (std::string* s :
         {&m_surname, &m_name, &m_patronymic, &m_snils, &m_email, &m_position, &m_inn})
        trimNULLStr(*s);
    m_passport.trimNULLInStrings();
}

}  // namespace tesel
