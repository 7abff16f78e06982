#include "package/WindowsNames.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using package::EndsInDotOrBlank;
using package::IsReservedDeviceName;

// Each case is checked as a narrow name (the packing tool's) and as a wide one (the stub's).
std::wstring Widen(const std::string& name) {
    return std::wstring(name.begin(), name.end());
}

TEST(WindowsNames, DeviceNamesInAnyCaseWithAnyExtensionAreReserved) {
    for (const char* name : {"CON", "con", "Prn", "aux", "NUL", "nul.txt", "com1", "COM9.log",
                             "Lpt1", "lpt9.tar.gz", "aux .txt", "con  ", "NUL."}) {
        EXPECT_TRUE(IsReservedDeviceName(std::string(name))) << name;
        EXPECT_TRUE(IsReservedDeviceName(Widen(name))) << name;
    }
}

TEST(WindowsNames, NamesThatOnlyLookLikeDevicesAreNot) {
    for (const char* name : {"COM10", "com0", "lpt", "console.log", "nul_device.txt", "xcon",
                             " con", "conn", "lpt1x", "comA", "auxiliary.txt", ".con", ""}) {
        EXPECT_FALSE(IsReservedDeviceName(std::string(name))) << name;
        EXPECT_FALSE(IsReservedDeviceName(Widen(name))) << name;
    }
}

TEST(WindowsNames, SuperscriptDigitsMakeADeviceOfAWideNameOnly) {
    EXPECT_TRUE(IsReservedDeviceName(std::wstring(L"COM\u00B9")));
    EXPECT_TRUE(IsReservedDeviceName(std::wstring(L"lpt\u00B2.txt")));
    EXPECT_TRUE(IsReservedDeviceName(std::wstring(L"LPT\u00B3")));
    EXPECT_FALSE(IsReservedDeviceName(std::wstring(L"COM\u2074"))); // superscript four
    // As a byte, 0xB9 is whatever the target's code page makes of it.
    EXPECT_FALSE(IsReservedDeviceName(std::string("COM\xB9")));
}

TEST(WindowsNames, ATrailingDotOrBlankIsFound) {
    for (const char* name : {"trailing.", "blank ", "..", "a. ", " "}) {
        EXPECT_TRUE(EndsInDotOrBlank(std::string(name))) << name;
        EXPECT_TRUE(EndsInDotOrBlank(Widen(name))) << name;
    }
    for (const char* name : {"", "a.b", " a", ".a", "a\t"}) {
        EXPECT_FALSE(EndsInDotOrBlank(std::string(name))) << name;
        EXPECT_FALSE(EndsInDotOrBlank(Widen(name))) << name;
    }
}

} // namespace
