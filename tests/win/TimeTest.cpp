// The UTC time text, with this process in a zone away from UTC (the test runs with TZ set).
#include "TestSupport.h"

#include "util/Utility.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace {

TEST(UtcTime, ProcessRunsAwayFromUtc) {
    EXPECT_NE(CUtility::GetUtcOffset(), 0) << "set TZ to a zone other than UTC for this test";
    EXPECT_EQ(CUtility::GetUtcOffset() % 1800, 0);
}

TEST(UtcTime, TextIsTheUtcWallClock) {
    const std::int64_t before = NowUtcSeconds();
    const std::wstring text =
        CUtility::FormatTime(CUtility::LocalTimeToUtc(CUtility::GetCurrentLocalTime()));
    const std::int64_t after = NowUtcSeconds();

    ASSERT_EQ(text.size(), 19u) << Narrow(text);
    const std::int64_t shown = SecondsOf(text);
    EXPECT_GE(shown, before - 1) << Narrow(text);
    EXPECT_LE(shown, after + 1) << Narrow(text);
}

TEST(UtcTime, LocalTimeMinusOffsetIsTheTrueTime) {
    const std::int64_t local = CUtility::GetCurrentLocalTime();
    const std::int64_t now = NowUtcSeconds();
    EXPECT_LE(std::llabs(local - now), 2) << "a local wall clock converts back to the true time";
}

TEST(FormatTime, ShowsTheLocalWallClock) {
    const std::int64_t offset = CUtility::GetUtcOffset();
    // Midday UTC on a winter day, shown in the local zone (no daylight saving in January north
    // of the equator for the zones the tests use).
    const std::int64_t noon = SecondsOf(L"2025-01-15 12:00:00");
    const std::wstring text = CUtility::FormatTime(noon);
    EXPECT_EQ(SecondsOf(text) - noon, offset) << Narrow(text);
}

} // namespace
