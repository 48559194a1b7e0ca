// Postal address of a client card (CP1251 texts). The country is kept in
// memory only; the card's byte form has no place for it.
#pragma once

#include <string>

namespace tesel {

class CAddress {
public:
    const std::string& getStreet() const { return m_street; }
    void setStreet(const std::string& v) { m_street = v; }
    const std::string& getCity() const { return m_city; }
    void setCity(const std::string& v) { m_city = v; }
    const std::string& getRegion() const { return m_region; }
    void setRegion(const std::string& v) { m_region = v; }
    const std::string& getCountry() const { return m_country; }
    void setCountry(const std::string& v) { m_country = v; }
    const std::string& getKorpus() const { return m_korpus; }
    void setKorpus(const std::string& v) { m_korpus = v; }
    const std::string& getApartment() const { return m_apartment; }
    void setApartment(const std::string& v) { m_apartment = v; }
    const std::string& getHouse() const { return m_house; }
    void setHouse(const std::string& v) { m_house = v; }

    void clear();
    // Cuts every text at its first zero byte.
    void trimNULLInStrings();

    bool operator==(const CAddress& other) const = default;

private:
    std::string m_street;
    std::string m_city;
    std::string m_region;
    std::string m_country;
    std::string m_korpus;
    std::string m_apartment;
    std::string m_house;
};

}  // namespace tesel
