#include <gtest/gtest.h>

#include <cstdint>

#include "platform/win32.h"

namespace {

std::uint64_t ticks(const FILETIME& ft) {
    return (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME fileTime(std::uint64_t t) {
    return FILETIME{static_cast<DWORD>(t), static_cast<DWORD>(t >> 32)};
}

SYSTEMTIME st(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    SYSTEMTIME t{};
    t.wYear = static_cast<WORD>(y);
    t.wMonth = static_cast<WORD>(mo);
    t.wDay = static_cast<WORD>(d);
    t.wHour = static_cast<WORD>(h);
    t.wMinute = static_cast<WORD>(mi);
    t.wSecond = static_cast<WORD>(s);
    t.wMilliseconds = static_cast<WORD>(ms);
    return t;
}

std::uint64_t toTicks(const SYSTEMTIME& t) {
    FILETIME ft{};
    EXPECT_TRUE(SystemTimeToFileTime(&t, &ft));
    return ticks(ft);
}

}  // namespace

TEST(PlatformTime, KnownFileTimes) {
    EXPECT_EQ(toTicks(st(1601, 1, 1)), 0u);
    EXPECT_EQ(toTicks(st(1970, 1, 1)), 116444736000000000ULL);
    EXPECT_EQ(toTicks(st(1601, 1, 1, 0, 0, 0, 1)), 10000u);
    EXPECT_EQ(toTicks(st(2000, 3, 1)) - toTicks(st(2000, 2, 28)), 2ULL * 864000000000ULL);
    // The last representable SYSTEMTIME year.
    EXPECT_EQ(toTicks(st(30827, 12, 31, 23, 59, 59, 999)), 0x7FFF35F4F06C58F0ULL);
}

TEST(PlatformTime, FileTimeToSystemTimeFillsDayOfWeek) {
    SYSTEMTIME out{};
    FILETIME ft = fileTime(0);
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &out));
    EXPECT_EQ(out.wYear, 1601);
    EXPECT_EQ(out.wMonth, 1);
    EXPECT_EQ(out.wDay, 1);
    EXPECT_EQ(out.wDayOfWeek, 1);  // Monday

    ft = fileTime(116444736000000000ULL);
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &out));
    EXPECT_EQ(out.wYear, 1970);
    EXPECT_EQ(out.wDayOfWeek, 4);  // Thursday

    ft = fileTime(0x7FFFFFFFFFFFFFFFULL);
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &out));
    EXPECT_EQ(out.wYear, 30828);
    EXPECT_EQ(out.wMonth, 9);
    EXPECT_EQ(out.wDay, 14);
    EXPECT_EQ(out.wHour, 2);
    EXPECT_EQ(out.wMinute, 48);
    EXPECT_EQ(out.wSecond, 5);
    EXPECT_EQ(out.wMilliseconds, 477);

    ft = fileTime(0x8000000000000000ULL);
    EXPECT_FALSE(FileTimeToSystemTime(&ft, &out));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(PlatformTime, RoundTripsAcrossTheRange) {
    const SYSTEMTIME samples[] = {st(1601, 1, 1),
                                  st(1700, 2, 28, 23, 59, 59, 999),
                                  st(1900, 3, 1),
                                  st(2000, 2, 29, 12, 0, 0, 1),
                                  st(2024, 3, 5, 9, 7, 3, 250),
                                  st(2100, 12, 31, 23, 59, 59, 999),
                                  st(30827, 12, 31, 23, 59, 59, 999)};
    for (const SYSTEMTIME& in : samples) {
        FILETIME ft{};
        ASSERT_TRUE(SystemTimeToFileTime(&in, &ft));
        SYSTEMTIME out{};
        ASSERT_TRUE(FileTimeToSystemTime(&ft, &out));
        EXPECT_EQ(out.wYear, in.wYear);
        EXPECT_EQ(out.wMonth, in.wMonth);
        EXPECT_EQ(out.wDay, in.wDay);
        EXPECT_EQ(out.wHour, in.wHour);
        EXPECT_EQ(out.wMinute, in.wMinute);
        EXPECT_EQ(out.wSecond, in.wSecond);
        EXPECT_EQ(out.wMilliseconds, in.wMilliseconds);
    }
    // Day of week of a known date, ignoring what the input claimed.
    SYSTEMTIME in = st(2024, 3, 5);
    in.wDayOfWeek = 6;
    FILETIME ft{};
    ASSERT_TRUE(SystemTimeToFileTime(&in, &ft));
    SYSTEMTIME out{};
    ASSERT_TRUE(FileTimeToSystemTime(&ft, &out));
    EXPECT_EQ(out.wDayOfWeek, 2);  // Tuesday
}

TEST(PlatformTime, SystemTimeToFileTimeValidates) {
    const SYSTEMTIME bad[] = {st(1600, 12, 31), st(30828, 1, 1),   st(2024, 0, 1),
                              st(2024, 13, 1),  st(2024, 1, 0),    st(2023, 2, 29),
                              st(1900, 2, 29),  st(2024, 4, 31),   st(2024, 1, 1, 24),
                              st(2024, 1, 1, 0, 60), st(2024, 1, 1, 0, 0, 60),
                              st(2024, 1, 1, 0, 0, 0, 1000)};
    for (const SYSTEMTIME& t : bad) {
        FILETIME ft{123, 456};
        SetLastError(0);
        EXPECT_FALSE(SystemTimeToFileTime(&t, &ft))
            << t.wYear << "-" << t.wMonth << "-" << t.wDay << " " << t.wHour;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    FILETIME ft{};
    const SYSTEMTIME leap = st(2000, 2, 29);
    EXPECT_TRUE(SystemTimeToFileTime(&leap, &ft));
}

TEST(PlatformTime, ClockReadingsAgree) {
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    FILETIME now{};
    GetSystemTime(&utc);
    GetLocalTime(&local);
    GetSystemTimeAsFileTime(&now);
    EXPECT_GE(utc.wYear, 2024);
    EXPECT_GE(local.wYear, 2024);
    EXPECT_LE(local.wMilliseconds, 999);
    EXPECT_LE(utc.wDayOfWeek, 6);
    FILETIME fromUtc{};
    ASSERT_TRUE(SystemTimeToFileTime(&utc, &fromUtc));
    const std::uint64_t a = ticks(fromUtc);
    const std::uint64_t b = ticks(now);
    EXPECT_LT(b >= a ? b - a : a - b, 50000000u);  // within 5 s
}
