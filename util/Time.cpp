#include "util/Utility.h"

#include "util/SystemCalls.h"

#include <cwchar>

// Conversions go through the Windows time-zone functions rather than the C runtime: the runtime
// follows a TZ environment variable when one is set, Windows' own clock never does.

namespace {

constexpr std::int64_t kTicksPerSecond = 10000000;
constexpr std::int64_t kEpochDifference = 11644473600; // 1601-01-01 to 1970-01-01, in seconds

std::int64_t FileTimeToSeconds(const FILETIME& file) {
    ULARGE_INTEGER ticks;
    ticks.LowPart = file.dwLowDateTime;
    ticks.HighPart = file.dwHighDateTime;
    return static_cast<std::int64_t>(ticks.QuadPart / kTicksPerSecond) - kEpochDifference;
}

// A wall clock as a time value, by the local zone's rules for that wall-clock time (daylight
// saving included). Milliseconds are dropped; a clock before 1900, or one that cannot be
// converted, gives 0.
std::int64_t WallClockToTime(SYSTEMTIME clock) {
    if (clock.wYear < 1900)
        return 0;
    clock.wMilliseconds = 0;
    SYSTEMTIME utc;
    FILETIME file;
    if (!::TzSpecificLocalTimeToSystemTime(nullptr, &clock, &utc) ||
        !::SystemTimeToFileTime(&utc, &file))
        return 0;
    return FileTimeToSeconds(file);
}

} // namespace

std::int64_t CUtility::GetCurrentLocalTime() {
    SYSTEMTIME local;
    ::GetLocalTime(&local);
    return WallClockToTime(local);
}

std::int64_t CUtility::CurrentTimeValue() {
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return FileTimeToSeconds(now);
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
    if (time < -kEpochDifference)
        return std::wstring();
    ULARGE_INTEGER ticks;
    ticks.QuadPart = static_cast<ULONGLONG>(time + kEpochDifference) * kTicksPerSecond;
    FILETIME file;
    file.dwLowDateTime = ticks.LowPart;
    file.dwHighDateTime = ticks.HighPart;

    SYSTEMTIME utc;
    SYSTEMTIME local;
    if (!::FileTimeToSystemTime(&file, &utc) ||
        !g_os.SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        return std::wstring();

    wchar_t text[128] = {};
    const int length =
        _snwprintf(text, 127, L"%04u-%02u-%02u %02u:%02u:%02u", local.wYear, local.wMonth,
                   local.wDay, local.wHour, local.wMinute, local.wSecond);
    return length > 0 ? std::wstring(text, static_cast<size_t>(length)) : std::wstring();
}
