// What the main sequence leaves in the product key around the installer's launch: when the launch
// started, and whether the shell could start it. One CRegistry object, selected once, serves both
// writes; it holds no key open in between, however long the installer runs.
#pragma once

#include "registry/Registry.h"

#include <windows.h>

inline constexpr wchar_t kStartTimeValue[] = L"CloudAutoUpdateTimeStart";
inline constexpr wchar_t kStatusValue[] = L"CloudAutoUpdateStatus";
// "CloudAutoUpdateStatus" when the shell started the installer, whatever its exit code, and when
// it could not.
inline constexpr DWORD kLaunchedStatus = 0;
inline constexpr DWORD kNotLaunchedStatus = 999;

// Selects the product key in use (the placeholder's resolution) under HKEY_LOCAL_MACHINE, never
// creating it. True when it exists; without it the object would address the root of
// HKEY_LOCAL_MACHINE, so the callers below write nothing then.
[[nodiscard]] bool SelectProductKey(CRegistry& registry);

// "CloudAutoUpdateTimeStart" = the current time in UTC as "YYYY-MM-DD hh:mm:ss" (REG_SZ). True
// when written.
[[nodiscard]] bool RecordLaunchStart(CRegistry& registry);

// "CloudAutoUpdateStatus" = 0 when `launched`, else 999 (REG_DWORD). True when written.
[[nodiscard]] bool RecordLaunchStatus(CRegistry& registry, bool launched) noexcept;
