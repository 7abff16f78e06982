// Which release a version number stands for. RtlGetVersion tells the true version; the
// GetVersionExW fallback tells it only up to Windows 8 for a program like ours, so it never
// answers more than class 3.
#pragma once

#include <cstdint>

enum OsVersionClass {
    kOsUnknownOrOlder = 0,
    kOsVista = 1,
    kOsWindows7 = 2,
    kOsWindows8 = 3,
    kOsWindows81 = 4,
    kOsWindows10 = 5,
};

// (major << 8) | minor: 6.1 is 0x0601, 10.0 is 0x0A00.
std::uint32_t VersionKey(std::uint32_t major, std::uint32_t minor);

int ClassFromTrueVersion(std::uint32_t key);
int ClassFromLegacyVersion(std::uint32_t key);
