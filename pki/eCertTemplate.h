// The CA's certificate products. The values are part of the client card
// format and of the web commands; CCertTemplate holds their names.
#pragma once

namespace tesel {

enum eCertTemplate : int {
    CT_NONE = -1,
    CT_STANDARD = 0,
    CT_B2B_ARCHIVE = 1,
    CT_COMMERCIAL = 2,
    CT_UNIVERSAL_ARCHIVE = 3,
    CT_UNIVERSAL_PLUS_2017_ARCHIVE = 4,
    CT_STANDARD_1_MONTH = 5,
    CT_STANDARD_DISCLOSURE = 6,
    CT_GOSZAKAZ_2017_ARCHIVE = 7,
    CT_STANDARD_3_MONTHS = 8,
    CT_GOSZAKAZ_ARCHIVE = 9,
    CT_UNIVERSAL_PLUS_2018_ARCHIVE = 10,
    CT_PACKAGE_GOSTORGI = 11,
    CT_PACKAGE_UNIVERSAL = 12,
};

inline constexpr int kCertTemplateCount = 13;

}  // namespace tesel
