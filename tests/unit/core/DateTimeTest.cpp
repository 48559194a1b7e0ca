#include <gtest/gtest.h>

#include <cstring>

#include "core/DateTime.h"

using namespace tesel;

namespace {

SYSTEMTIME makeTime(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    st.wMilliseconds = static_cast<WORD>(ms);
    return st;
}

void expectDate(const SYSTEMTIME& st, int y, int mo, int d, int h, int mi, int s) {
    EXPECT_EQ(st.wYear, y);
    EXPECT_EQ(st.wMonth, mo);
    EXPECT_EQ(st.wDay, d);
    EXPECT_EQ(st.wHour, h);
    EXPECT_EQ(st.wMinute, mi);
    EXPECT_EQ(st.wSecond, s);
    EXPECT_EQ(st.wMilliseconds, 0);
}

}  // namespace

TEST(DateTime, TimeToStrLayouts) {
    const SYSTEMTIME st = makeTime(2024, 3, 5, 9, 7, 3, 999);
    EXPECT_EQ(timeToStr(st, DATE_DMY_HM), "05.03.2024 09:07");
    EXPECT_EQ(timeToStr(st, DATE_YMD_HMS), "2024-03-05 09:07:03");
    EXPECT_EQ(timeToStr(st, DATE_ISO_MSK), "2024-03-05T09:07:03+03:00");
    EXPECT_EQ(timeToStr(st, DATE_FILE_NAME), "20240305_090703");
    EXPECT_EQ(timeToStr(st, DATE_YMD_HMS_DASHED), "2024-03-05 09-07-03");
    EXPECT_EQ(timeToStr(st, DATE_YMD_COMPACT), "");
    EXPECT_EQ(timeToStr(st, static_cast<eDateFormat>(77)), "");
    // Widths are minimums: large field values are written in full.
    EXPECT_EQ(timeToStr(makeTime(65535, 65535, 65535, 65535, 65535, 65535), DATE_DMY_HM),
              "65535.65535.65535 65535:65535");
    EXPECT_EQ(timeToStr(makeTime(1, 1, 1), DATE_YMD_HMS), "0001-01-01 00:00:00");
}

TEST(DateTime, StrToTimeLayouts) {
    expectDate(strToTime("20240305", DATE_YMD_COMPACT), 2024, 3, 5, 0, 0, 0);
    expectDate(strToTime("2024-03-05 09:07:03", DATE_YMD_HMS), 2024, 3, 5, 9, 7, 3);
    // Round trip through layout 1.
    const SYSTEMTIME st = makeTime(1999, 12, 31, 23, 59, 58);
    expectDate(strToTime(timeToStr(st, DATE_YMD_HMS), DATE_YMD_HMS), 1999, 12, 31, 23, 59, 58);
    // Layouts that are never read give zeros.
    expectDate(strToTime("05.03.2024 09:07", DATE_DMY_HM), 0, 0, 0, 0, 0, 0);
    expectDate(strToTime("2024-03-05T09:07:03+03:00", DATE_ISO_MSK), 0, 0, 0, 0, 0, 0);
}

TEST(DateTime, StrToTimePartialInputLeavesZeros) {
    SYSTEMTIME st = strToTime("2024-03", DATE_YMD_HMS);
    expectDate(st, 2024, 3, 0, 0, 0, 0);
    EXPECT_EQ(st.wDayOfWeek, 0);
    expectDate(strToTime("", DATE_YMD_HMS), 0, 0, 0, 0, 0, 0);
    expectDate(strToTime("garbage", DATE_YMD_COMPACT), 0, 0, 0, 0, 0, 0);
    expectDate(strToTime("202403", DATE_YMD_COMPACT), 2024, 3, 0, 0, 0, 0);
    // Field widths bound what is read: no overflow on long digit runs.
    expectDate(strToTime("99999999999999999999", DATE_YMD_COMPACT), 9999, 99, 99, 0, 0, 0);
}

TEST(DateTime, Comparisons) {
    const SYSTEMTIME a = makeTime(2024, 3, 5, 9, 7, 3, 0);
    SYSTEMTIME sameButMs = a;
    sameButMs.wMilliseconds = 500;
    sameButMs.wDayOfWeek = 6;
    EXPECT_FALSE(isLess(a, sameButMs));
    EXPECT_FALSE(isGreater(a, sameButMs));

    const SYSTEMTIME laterSecond = makeTime(2024, 3, 5, 9, 7, 4);
    EXPECT_TRUE(isLess(a, laterSecond));
    EXPECT_TRUE(isGreater(laterSecond, a));
    // Year outranks everything below it.
    const SYSTEMTIME nextYearEarlyMonth = makeTime(2025, 1, 1);
    EXPECT_TRUE(isLess(makeTime(2024, 12, 31, 23, 59, 59), nextYearEarlyMonth));
    EXPECT_TRUE(isLess(makeTime(2024, 2, 28), makeTime(2024, 3, 1)));
    EXPECT_TRUE(isGreater(makeTime(2024, 3, 1, 0, 1), makeTime(2024, 3, 1, 0, 0, 59)));
}

TEST(DateTime, IsValidDateLimits) {
    EXPECT_TRUE(isValidDate(makeTime(1900, 1, 1)));
    EXPECT_TRUE(isValidDate(makeTime(3000, 12, 31, 23, 59, 59)));
    EXPECT_TRUE(isValidDate(makeTime(2023, 2, 31)));  // day not checked against month
    EXPECT_FALSE(isValidDate(makeTime(1899, 12, 31)));
    EXPECT_FALSE(isValidDate(makeTime(3001, 1, 1)));
    EXPECT_FALSE(isValidDate(makeTime(2024, 0, 1)));
    EXPECT_FALSE(isValidDate(makeTime(2024, 13, 1)));
    EXPECT_FALSE(isValidDate(makeTime(2024, 1, 0)));
    EXPECT_FALSE(isValidDate(makeTime(2024, 1, 32)));
    EXPECT_FALSE(isValidDate(makeTime(2024, 1, 1, 24)));
    EXPECT_FALSE(isValidDate(makeTime(2024, 1, 1, 0, 60)));
    EXPECT_FALSE(isValidDate(makeTime(2024, 1, 1, 0, 0, 60)));
    EXPECT_FALSE(isValidDate(SYSTEMTIME{}));
}

TEST(DateTime, DaysInMonth) {
    EXPECT_EQ(getDaysInMonth(2, 1900), 28);
    EXPECT_EQ(getDaysInMonth(2, 2000), 29);
    EXPECT_EQ(getDaysInMonth(2, 2024), 29);
    EXPECT_EQ(getDaysInMonth(2, 2023), 28);
    EXPECT_EQ(getDaysInMonth(1, 2023), 31);
    EXPECT_EQ(getDaysInMonth(4, 2023), 30);
    EXPECT_EQ(getDaysInMonth(12, 2023), 31);
    EXPECT_EQ(getDaysInMonth(0, 2023), 0);
    EXPECT_EQ(getDaysInMonth(13, 2023), 0);
}

TEST(DateTime, DiffDatesIsACalendarOffset) {
    // 400 days: 2023-01-01 to 2024-02-05 reads as one year, one month, four days.
    SYSTEMTIME b = makeTime(2023, 1, 1, 10, 0, 0);
    SYSTEMTIME a = makeTime(2024, 2, 5, 12, 30, 15);
    SYSTEMTIME d = getDiffDates(a, b);
    EXPECT_EQ(d.wYear, 1);
    EXPECT_EQ(d.wMonth, 1);
    EXPECT_EQ(d.wDay, 4);
    EXPECT_EQ(d.wHour, 2);
    EXPECT_EQ(d.wMinute, 30);
    EXPECT_EQ(d.wSecond, 15);
    EXPECT_EQ(d.wDayOfWeek, 0);

    const SYSTEMTIME same = getDiffDates(a, a);
    EXPECT_EQ(same.wYear, 0);
    EXPECT_EQ(same.wMonth, 0);
    EXPECT_EQ(same.wDay, 0);

    // Leap day counts: 2024-02-28 to 2024-03-01 is two days.
    EXPECT_EQ(getDiffDates(makeTime(2024, 3, 1), makeTime(2024, 2, 28)).wDay, 2);
    EXPECT_EQ(getDiffDates(makeTime(2023, 3, 1), makeTime(2023, 2, 28)).wDay, 1);
}

TEST(DateTime, DiffDatesRefusesNegativeAndInvalid) {
    const SYSTEMTIME zero{};
    auto isZero = [&](const SYSTEMTIME& s) { return std::memcmp(&s, &zero, sizeof s) == 0; };
    EXPECT_TRUE(isZero(getDiffDates(makeTime(2023, 1, 1), makeTime(2024, 1, 1))));
    EXPECT_TRUE(isZero(getDiffDates(makeTime(2024, 2, 30), makeTime(2024, 1, 1))));
    EXPECT_TRUE(isZero(getDiffDates(makeTime(2024, 1, 1), SYSTEMTIME{})));
}
