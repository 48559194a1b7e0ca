#include "pki/eOID.h"

namespace tesel {

const char* const eOIDString[kOIDCount] = {
    "1.2.643.2.4.1.1.1.1.2",  // 0
    "1.2.643.3.131.1.1",      // 1 INN
    "1.2.643.100.1",          // 2 OGRN
    "1.2.643.100.3",          // 3 SNILS
    "1.2.643.100.5",          // 4 OGRNIP
    "1.2.643.100.111",        // 5 subject signing tool
    "1.2.643.100.113.1",      // 6 KC1
    "1.2.643.100.113.2",      // 7 KC2
    "1.2.840.113549.1.9.1",   // 8 e-mail
    "1.2.840.113549.1.9.2",   // 9 unstructured name
    "1.2.840.113549.1.9.15",  // 10 S/MIME capabilities
    "1.2.840.113549.1.9.14",  // 11 extension request
    "1.3.6.1.4.1.311.13.2.1", // 12 enrollment name-value pair
    "2.5.4.3",                // 13 common name
    "2.5.4.4",                // 14 surname
    "2.5.4.42",               // 15 given name
    "2.5.4.6",                // 16 country
    "2.5.4.7",                // 17 locality
    "2.5.4.8",                // 18 state or province
    "2.5.4.9",                // 19 street address
    "2.5.4.10",               // 20 organization
    "2.5.4.11",               // 21 organizational unit
    "2.5.4.12",               // 22 title
    "2.5.29.15",              // 23 key usage
    "2.5.29.32",              // 24 certificate policies
    "2.5.29.35",              // 25 authority key identifier
    "2.5.29.37",              // 26 extended key usage
};

const char* getOIDString(int v) { return v >= 0 && v < kOIDCount ? eOIDString[v] : ""; }

}  // namespace tesel
