// Dates on the SYSTEMTIME structure and their fixed text layouts. Dates are
// local time; no time zone is stored.
#pragma once

#include <string>

#include "core/export.h"
#include "platform/win32.h"

namespace tesel {

// Text layouts; every number is zero-padded to the width shown.
enum eDateFormat : int {
    DATE_DMY_HM = 0,         // "05.03.2024 09:07" (written only)
    DATE_YMD_HMS = 1,        // "2024-03-05 09:07:03" (written and read)
    DATE_ISO_MSK = 2,        // "2024-03-05T09:07:03+03:00", suffix constant (written only)
    DATE_FILE_NAME = 3,      // "20240305_090703" (written only)
    DATE_YMD_HMS_DASHED = 4, // "2024-03-05 09-07-03" (written only)
    DATE_YMD_COMPACT = 5,    // "20240305" (read only)
};

// Layouts 0 to 4; any other layout gives "".
UPD_QN_API std::string timeToStr(const SYSTEMTIME& st, eDateFormat format);

// Layouts 1 and 5; any other layout gives a zeroed SYSTEMTIME. Fields that
// the text does not supply stay 0; the day of week is not computed.
UPD_QN_API SYSTEMTIME strToTime(const std::string& text, eDateFormat format);

// Compare year, month, day, hour, minute, second (milliseconds and day of
// week are ignored); equal values are neither less nor greater.
UPD_QN_API bool isLess(const SYSTEMTIME& a, const SYSTEMTIME& b);
UPD_QN_API bool isGreater(const SYSTEMTIME& a, const SYSTEMTIME& b);

// Year 1900..3000, month 1..12, day 1..31 (not checked against the month),
// hour 0..23, minute 0..59, second 0..59.
UPD_QN_API bool isValidDate(const SYSTEMTIME& st);

// Time elapsed from b to a as a calendar offset counted from 1 January 1601:
// 400 days read as year 1, month 1, day 4; day of week 0. When a is earlier
// than b, or either date cannot be converted, the result is all zeros.
UPD_QN_API SYSTEMTIME getDiffDates(const SYSTEMTIME& a, const SYSTEMTIME& b);

// 28..31 by the Gregorian rule; 0 for a month outside 1..12.
UPD_QN_API int getDaysInMonth(int month, int year);

}  // namespace tesel
