#include "core/DateTime.h"

#include <cstdint>
#include <cstdio>
#include <tuple>

namespace tesel {

namespace {

auto fieldsOf(const SYSTEMTIME& t) {
    return std::make_tuple(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

std::uint64_t ticksOf(const FILETIME& ft) {
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

}  // namespace

std::string timeToStr(const SYSTEMTIME& st, eDateFormat format) {
    // Wide enough for every layout even with five-digit field values.
    char buf[96];
    int n = -1;
    switch (format) {
    case DATE_DMY_HM:
        n = std::snprintf(buf, sizeof buf, "%.2d.%.2d.%.4d %.2d:%.2d", st.wDay, st.wMonth, st.wYear,
                          st.wHour, st.wMinute);
        break;
    case DATE_YMD_HMS:
        n = std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d", st.wYear, st.wMonth,
                          st.wDay, st.wHour, st.wMinute, st.wSecond);
        break;
    case DATE_ISO_MSK:
        n = std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2dT%.2d:%.2d:%.2d+03:00", st.wYear, st.wMonth,
                          st.wDay, st.wHour, st.wMinute, st.wSecond);
        break;
    case DATE_FILE_NAME:
        n = std::snprintf(buf, sizeof buf, "%.4d%.2d%.2d_%.2d%.2d%.2d", st.wYear, st.wMonth, st.wDay,
                          st.wHour, st.wMinute, st.wSecond);
        break;
    case DATE_YMD_HMS_DASHED:
        n = std::snprintf(buf, sizeof buf, "%.4d-%.2d-%.2d %.2d-%.2d-%.2d", st.wYear, st.wMonth,
                          st.wDay, st.wHour, st.wMinute, st.wSecond);
        break;
    default:
        break;
    }
    if (n < 0) return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

SYSTEMTIME strToTime(const std::string& text, eDateFormat format) {
    SYSTEMTIME st{};
    // Fields the text does not supply keep their zero.
    int v[6] = {0, 0, 0, 0, 0, 0};
    switch (format) {
    case DATE_YMD_HMS:
        std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
        break;
    case DATE_YMD_COMPACT:
        std::sscanf(text.c_str(), "%4d%2d%2d", &v[0], &v[1], &v[2]);
        break;
    default:
        return st;
    }
    st.wYear = static_cast<WORD>(v[0]);
    st.wMonth = static_cast<WORD>(v[1]);
    st.wDay = static_cast<WORD>(v[2]);
    st.wHour = static_cast<WORD>(v[3]);
    st.wMinute = static_cast<WORD>(v[4]);
    st.wSecond = static_cast<WORD>(v[5]);
    return st;
}

bool isLess(const SYSTEMTIME& a, const SYSTEMTIME& b) { return fieldsOf(a) < fieldsOf(b); }

bool isGreater(const SYSTEMTIME& a, const SYSTEMTIME& b) { return fieldsOf(a) > fieldsOf(b); }

bool isValidDate(const SYSTEMTIME& st) {
    return st.wYear >= 1900 && st.wYear <= 3000 && st.wMonth >= 1 && st.wMonth <= 12 && st.wDay >= 1 &&
           st.wDay <= 31 && st.wHour <= 23 && st.wMinute <= 59 && st.wSecond <= 59;
}

SYSTEMTIME getDiffDates(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    SYSTEMTIME diff{};
    FILETIME fa{};
    FILETIME fb{};
    if (!SystemTimeToFileTime(&a, &fa) || !SystemTimeToFileTime(&b, &fb)) return SYSTEMTIME{};
    const std::uint64_t ta = ticksOf(fa);
    const std::uint64_t tb = ticksOf(fb);
    // A negative span has no calendar spelling.
    if (ta < tb) return SYSTEMTIME{};
    const std::uint64_t d = ta - tb;
    FILETIME fd{static_cast<DWORD>(d), static_cast<DWORD>(d >> 32)};
    if (!FileTimeToSystemTime(&fd, &diff)) return SYSTEMTIME{};
    diff.wYear = static_cast<WORD>(diff.wYear - 1601);
    diff.wMonth = static_cast<WORD>(diff.wMonth - 1);
    diff.wDay = static_cast<WORD>(diff.wDay - 1);
    diff.wDayOfWeek = 0;
    return diff;
}

int getDaysInMonth(int month, int year) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12) return 0;
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
    return days[month - 1];
}

}  // namespace tesel
