// The UTC time text, with this process in a zone away from UTC (the test runs with TZ set).
#include "TestSupport.h"

#include "util/Utility.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::int64_t SecondsOf(const std::wstring& text) {
    // "YYYY-MM-DD HH:MM:SS" as seconds since 1970, counting the date as UTC.
    int y, mo, d, h, mi, s;
    if (swscanf(text.c_str(), L"%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6)
        return -1;
    SYSTEMTIME clock = {};
    clock.wYear = static_cast<WORD>(y);
    clock.wMonth = static_cast<WORD>(mo);
    clock.wDay = static_cast<WORD>(d);
    clock.wHour = static_cast<WORD>(h);
    clock.wMinute = static_cast<WORD>(mi);
    clock.wSecond = static_cast<WORD>(s);
    FILETIME file;
    ::SystemTimeToFileTime(&clock, &file);
    ULARGE_INTEGER value;
    value.LowPart = file.dwLowDateTime;
    value.HighPart = file.dwHighDateTime;
    return static_cast<std::int64_t>(value.QuadPart / 10000000ULL) - 11644473600LL;
}

std::int64_t NowUtcSeconds() {
    FILETIME file;
    ::GetSystemTimeAsFileTime(&file);
    ULARGE_INTEGER value;
    value.LowPart = file.dwLowDateTime;
    value.HighPart = file.dwHighDateTime;
    return static_cast<std::int64_t>(value.QuadPart / 10000000ULL) - 11644473600LL;
}

// In New York (five hours behind UTC in winter, four in summer) the text is the UTC wall clock
// of the moment, within the second the clocks are read in.
TEST(UtcTime, TextIsTheUtcWallClockOfTheMoment) {
    ASSERT_NE(CUtility::GetUtcOffset(), 0) << "set TZ to a zone other than UTC for this test";
    const std::int64_t before = NowUtcSeconds();
    const std::wstring text =
        CUtility::FormatTime(CUtility::LocalTimeToUtc(CUtility::GetCurrentLocalTime()));
    const std::int64_t after = NowUtcSeconds();

    ASSERT_EQ(text.size(), 19u) << Narrow(text);
    const std::int64_t shown = SecondsOf(text);
    EXPECT_GE(shown, before - 1) << Narrow(text);
    EXPECT_LE(shown, after + 1) << Narrow(text);
}

TEST(FormatTime, ShowsTheWallClockOfTheZoneOnThatDate) {
    // The test runs in New York: five hours behind UTC in winter, four in summer, whatever the
    // date the suite happens to run on.
    const char* zone = std::getenv("TZ");
    if (zone == nullptr || std::string(zone) != "America/New_York")
        GTEST_SKIP() << "run with TZ=America/New_York";
    EXPECT_EQ(Narrow(CUtility::FormatTime(SecondsOf(L"2025-01-15 12:00:00"))),
              "2025-01-15 07:00:00");
    EXPECT_EQ(Narrow(CUtility::FormatTime(SecondsOf(L"2025-07-15 12:00:00"))),
              "2025-07-15 08:00:00");
}

} // namespace
