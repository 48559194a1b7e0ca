// SYSTEMTIME/FILETIME on POSIX systems. FILETIME counts 100-ns ticks since
// 1 January 1601 UTC; the conversions use calendar arithmetic rather than
// time_t so that the whole Windows range (1601..30827) works.
#include <time.h>

#include <cerrno>
#include <cstdint>

#include "platform/win32.h"

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
constexpr std::int64_t kTicksPerMs = 10'000;
constexpr std::int64_t kSecondsPerDay = 86'400;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kDays1601To1970 = 134'774;

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

bool isLeap(unsigned y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned daysInMonth(unsigned m, unsigned y) {
    static const unsigned days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && isLeap(y) ? 29 : days[m - 1];
}

std::uint64_t toTicks(const FILETIME& ft) {
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

void fromTicks(std::uint64_t t, FILETIME& ft) {
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
}

void fillFromTm(const struct tm& tm, long nsec, SYSTEMTIME* st) {
    st->wYear = static_cast<WORD>(tm.tm_year + 1900);
    st->wMonth = static_cast<WORD>(tm.tm_mon + 1);
    st->wDayOfWeek = static_cast<WORD>(tm.tm_wday);
    st->wDay = static_cast<WORD>(tm.tm_mday);
    st->wHour = static_cast<WORD>(tm.tm_hour);
    st->wMinute = static_cast<WORD>(tm.tm_min);
    // A leap second (tm_sec 60) has no SYSTEMTIME spelling.
    st->wSecond = static_cast<WORD>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
    st->wMilliseconds = static_cast<WORD>(nsec / 1'000'000);
}

}  // namespace

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft) {
    if (st == nullptr || ft == nullptr || st->wYear < 1601 || st->wYear > 30827 ||
        st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
        st->wDay > daysInMonth(st->wMonth, st->wYear) || st->wHour > 23 || st->wMinute > 59 ||
        st->wSecond > 59 || st->wMilliseconds > 999) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::int64_t days = daysFromCivil(st->wYear, st->wMonth, st->wDay) + kDays1601To1970;
    const std::int64_t seconds =
        days * kSecondsPerDay + st->wHour * 3600 + st->wMinute * 60 + st->wSecond;
    fromTicks(static_cast<std::uint64_t>(seconds * kTicksPerSecond + st->wMilliseconds * kTicksPerMs),
              *ft);
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st) {
    if (ft == nullptr || st == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::uint64_t ticks = toTicks(*ft);
    if (ticks >= 0x8000000000000000ULL) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const auto t = static_cast<std::int64_t>(ticks);
    const std::int64_t totalSeconds = t / kTicksPerSecond;
    const std::int64_t days = totalSeconds / kSecondsPerDay;
    const std::int64_t secOfDay = totalSeconds % kSecondsPerDay;
    std::int64_t y = 0;
    unsigned m = 0;
    unsigned d = 0;
    civilFromDays(days - kDays1601To1970, y, m, d);
    st->wYear = static_cast<WORD>(y);
    st->wMonth = static_cast<WORD>(m);
    st->wDay = static_cast<WORD>(d);
    st->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
    st->wHour = static_cast<WORD>(secOfDay / 3600);
    st->wMinute = static_cast<WORD>(secOfDay % 3600 / 60);
    st->wSecond = static_cast<WORD>(secOfDay % 60);
    st->wMilliseconds = static_cast<WORD>(t % kTicksPerSecond / kTicksPerMs);
    return TRUE;
}

void GetSystemTimeAsFileTime(LPFILETIME ft) {
    if (ft == nullptr) return;
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    const std::int64_t ticks = (static_cast<std::int64_t>(ts.tv_sec) + kDays1601To1970 * kSecondsPerDay) *
                                   kTicksPerSecond +
                               ts.tv_nsec / 100;
    fromTicks(static_cast<std::uint64_t>(ticks), *ft);
}

void GetSystemTime(LPSYSTEMTIME st) {
    if (st == nullptr) return;
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm {};
    gmtime_r(&ts.tv_sec, &tm);
    fillFromTm(tm, ts.tv_nsec, st);
}

void GetLocalTime(LPSYSTEMTIME st) {
    if (st == nullptr) return;
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm tm {};
    localtime_r(&ts.tv_sec, &tm);
    fillFromTm(tm, ts.tv_nsec, st);
}

void Sleep(DWORD ms) {
    struct timespec req {};
    req.tv_sec = static_cast<time_t>(ms / 1000);
    req.tv_nsec = static_cast<long>(ms % 1000) * 1'000'000L;
    while (nanosleep(&req, &req) != 0 && errno == EINTR) {
    }
}
