// Extended-key-usage purposes. The values are part of the client card format
// and of the web commands, so they never change; eEnhKeyString holds the
// dotted OID of each value and eEnhKeyDescString its display label (CP1251).
// Only the first 54 purposes have a label.
#pragma once

namespace tesel {

enum eEnhKeyOID : int {
    ENH_UNKNOWN = -1,
    ENH_SERVER_AUTH = 0,
    ENH_CLIENT_AUTH = 1,
    ENH_SECURE_EMAIL = 2,
    ENH_B2B = 3,
    ENH_ETP_1 = 4,
    ENH_ETP_2 = 5,
    ENH_ETP_UTENDER = 6,
    ENH_AETP = 7,
    ENH_FEDERAL_PLATFORMS = 8,
    ENH_GOSTORGI_LEGAL = 9,
    ENH_GOSTORGI_PERSON = 10,
    ENH_GOSTORGI_ENTREPRENEUR = 11,
    ENH_ORDER_PARTICIPANT = 12,
    ENH_GOSTORGI_ADMIN = 13,
    ENH_GOSTORGI_SPECIALIST = 14,
    ENH_GOSTORGI_SIGNER = 15,
    ENH_EIAS_FST = 16,
    ENH_TEK_TORG = 17,
    ENH_EGRP_PERSON_REQUEST = 18,
    ENH_ROSREESTR_STAFF = 19,
    ENH_EGRP_LEGAL_REQUEST = 20,
    ENH_ROSREESTR_MFC = 21,
    ENH_GKN_FUND = 22,
    ENH_GKN_OGV = 23,
    ENH_GKN_OMS = 24,
    ENH_ETP_GPB = 25,
    ENH_EFRSFDUL = 26,
    ENH_DISCLOSURE_PRIME = 27,
    ENH_DISCLOSURE_SKRIN = 28,
    ENH_DISCLOSURE_AKM = 29,
    ENH_DISCLOSURE_AZIPI = 30,
    ENH_DISCLOSURE_INTERFAX = 31,
    ENH_ETP_FABRIKANT = 32,
    ENH_TSP_USER = 33,
    ENH_OCSP_USER = 34,
    ENH_RC_USER = 35,
    ENH_FRDO_SCHOOL = 36,
    ENH_FRDO_SPO = 37,
    ENH_FRDO_VUZ = 38,
    ENH_FTS_4 = 39,
    ENH_FTS_6 = 40,
    ENH_FTS_7 = 41,
    ENH_FTS_8 = 42,
    ENH_FTS_9 = 43,
    ENH_FTS_11 = 44,
    ENH_FTS_12 = 45,
    ENH_FTS_13 = 46,
    ENH_ES_POVOLZHYA = 47,
    ENH_ROSREESTR_BANK = 48,
    ENH_ROSREESTR_LOCAL_GOV = 49,
    ENH_FRDO_ARCHIVES = 50,
    ENH_CADASTRAL_ENGINEER = 51,
    ENH_ROSREESTR_STATE_GOV = 52,
    ENH_EGRP_TO_FOIV = 53,
    ENH_ROSREESTR_2_6 = 54,
    ENH_ROSREESTR_2_43 = 55,
};

inline constexpr int kEnhKeyCount = 56;
inline constexpr int kEnhKeyDescCount = 54;

extern const char* const eEnhKeyString[kEnhKeyCount];
extern const char* const eEnhKeyDescString[kEnhKeyDescCount];

// True for the values 0 to 55.
constexpr bool isKnownEnhKeyOID(int v) { return v >= 0 && v < kEnhKeyCount; }

// The dotted text of v, or "" for a value outside the enumeration.
const char* getEnhKeyString(int v);
// The display label of v; "" for 54, 55 and values outside the enumeration.
const char* getEnhKeyDesc(int v);

}  // namespace tesel
