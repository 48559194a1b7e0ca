// Object identifiers of subject attributes, PKCS#9 attributes and
// certificate extensions that the request builder and the certificate parser
// name. The values are fixed: they index eOIDString and travel nowhere else.
#pragma once

namespace tesel {

enum eOID : int {
    OID_UNKNOWN = -1,
    OID_ATTR_2_4 = 0,  // an attribute of the 1.2.643.2.4 arc, known for lookup only
    OID_INN = 1,
    OID_OGRN = 2,
    OID_SNILS = 3,
    OID_OGRNIP = 4,
    OID_SIGN_TOOL = 5,
    OID_POLICY_KC1 = 6,
    OID_POLICY_KC2 = 7,
    OID_EMAIL = 8,
    OID_UNSTRUCTURED_NAME = 9,
    OID_SMIME_CAPABILITIES = 10,
    OID_EXTENSION_REQUEST = 11,
    OID_ENROLL_NAME_VALUE = 12,
    OID_COMMON_NAME = 13,
    OID_SURNAME = 14,
    OID_GIVEN_NAME = 15,
    OID_COUNTRY = 16,
    OID_LOCALITY = 17,
    OID_STATE = 18,
    OID_STREET = 19,
    OID_ORGANIZATION = 20,
    OID_ORG_UNIT = 21,
    OID_TITLE = 22,
    OID_KEY_USAGE = 23,
    OID_CERT_POLICIES = 24,
    OID_AUTHORITY_KEY_ID = 25,
    OID_ENH_KEY_USAGE = 26,
};

inline constexpr int kOIDCount = 27;

// Dotted text of each eOID, indexed by its value.
extern const char* const eOIDString[kOIDCount];

// The dotted text of v, or "" for a value outside the enumeration.
const char* getOIDString(int v);

}  // namespace tesel
