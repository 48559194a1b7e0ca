// One subject attribute of a certification request: the attribute's dotted
// OID and its value (ANSI code page).
#pragma once

#include <string>

namespace tesel {

struct Map {
    std::string oid;
    std::string value;

    bool operator==(const Map& other) const = default;
};

}  // namespace tesel
