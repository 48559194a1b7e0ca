#include "client/CAddress.h"

#include "client/Passport.h"

namespace tesel {

void CAddress::clear() { *this = CAddress(); }

void CAddress::trimNULLInStrings() {
    for (std::string* s :
         {&m_street, &m_city, &m_region, &m_country, &m_korpus, &m_apartment, &m_house})
        trimNULLStr(*s);
}

}  // namespace tesel
