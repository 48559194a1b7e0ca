// The kind of a CA packet, carried in the permanent header of every payload,
// and the display names of package kinds and product variants.
#pragma once

#include <string>

#include "core/eQuorinType.h"
#include "core/export.h"

namespace tesel {

enum PackageType : unsigned {
    PT_UNDEFINED = 0,
    PT_CLIENT_CARD = 1,
    PT_CLIENT_CARD_ANSWER = 2,
    PT_CARD_FROM_CA = 3,
    PT_PKCS10 = 4,
    PT_CERTIFICATE = 5,
    PT_CHANGE_EMAIL = 6,
    PT_PROLONG = 7,
    PT_PROLONG_ANSWER = 8,
    PT_KA_CARD = 9,
    PT_KA_CARD_ANSWER = 10,
};

// The name of a package kind in the ANSI code page (CP1251), e.g. "PKCS#10"
// for 4; an empty string for a value outside the table.
UPD_QN_API std::string getPackageTypeName(PackageType type);

// Display names of the product variants, indexed by eQuorinType (CP1251).
UPD_QN_API extern const char* const eQuorinString[5];

// eQuorinString[type], or the family name "Quorin" for a value outside it.
UPD_QN_API std::string getQuorinName(eQuorinType type);

}  // namespace tesel
