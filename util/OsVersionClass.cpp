#include "util/OsVersionClass.h"

std::uint32_t VersionKey(std::uint32_t major, std::uint32_t minor) {
    return (major << 8) | minor;
}

int ClassFromTrueVersion(std::uint32_t key) {
    if (key >= 0x0A00)
        return kOsWindows10;
    switch (key) {
    case 0x0603:
        return kOsWindows81;
    case 0x0602:
        return kOsWindows8;
    case 0x0601:
        return kOsWindows7;
    case 0x0600:
        return kOsVista;
    default:
        return kOsUnknownOrOlder;
    }
}

int ClassFromLegacyVersion(std::uint32_t key) {
    if (key >= 0x0602)
        return kOsWindows8;
    if (key == 0x0601)
        return kOsWindows7;
    if (key == 0x0600)
        return kOsVista;
    return kOsUnknownOrOlder;
}
