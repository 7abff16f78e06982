#include "util/Utility.h"

#include <ctime>
#include <cwchar>

namespace {

// A wall clock as a time value, by the local zone's rules for that wall-clock time (daylight
// saving included). Milliseconds are dropped; a clock before 1900, or one the runtime cannot
// convert, gives 0.
std::int64_t WallClockToTime(const SYSTEMTIME& clock) {
    if (clock.wYear < 1900)
        return 0;
    tm wall = {};
    wall.tm_year = clock.wYear - 1900;
    wall.tm_mon = clock.wMonth - 1;
    wall.tm_mday = clock.wDay;
    wall.tm_hour = clock.wHour;
    wall.tm_min = clock.wMinute;
    wall.tm_sec = clock.wSecond;
    wall.tm_isdst = -1;
    const __time64_t value = _mktime64(&wall);
    return value == -1 ? 0 : value;
}

} // namespace

std::int64_t CUtility::GetCurrentLocalTime() {
    SYSTEMTIME local;
    ::GetLocalTime(&local);
    return WallClockToTime(local);
}

std::int64_t CUtility::GetUtcOffset() {
    SYSTEMTIME utc;
    ::GetSystemTime(&utc);
    SYSTEMTIME local;
    ::GetLocalTime(&local);
    // The UTC wall clock is read as if it were local time: the difference is the zone's offset.
    return WallClockToTime(local) - WallClockToTime(utc);
}

std::int64_t CUtility::LocalTimeToUtc(std::int64_t time) {
    return time - static_cast<std::int32_t>(GetUtcOffset());
}

std::wstring CUtility::FormatTime(std::int64_t time) {
    const __time64_t value = time;
    tm local = {};
    if (_localtime64_s(&local, &value) != 0)
        return std::wstring();
    wchar_t text[128] = {};
    if (wcsftime(text, 128, L"%Y-%m-%d %H:%M:%S", &local) == 0)
        return std::wstring();
    return text;
}
