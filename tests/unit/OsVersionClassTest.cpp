#include "util/OsVersionClass.h"

#include <gtest/gtest.h>

namespace {

TEST(OsVersionClass, TrueVersionNamesEveryRelease) {
    EXPECT_EQ(ClassFromTrueVersion(VersionKey(10, 0)), kOsWindows10);
    EXPECT_EQ(ClassFromTrueVersion(VersionKey(11, 0)), kOsWindows10);
    EXPECT_EQ(ClassFromTrueVersion(VersionKey(6, 3)), kOsWindows81);
    EXPECT_EQ(ClassFromTrueVersion(VersionKey(6, 2)), kOsWindows8);
    EXPECT_EQ(ClassFromTrueVersion(VersionKey(6, 1)), kOsWindows7);
    EXPECT_EQ(ClassFromTrueVersion(VersionKey(6, 0)), kOsVista);
    EXPECT_EQ(ClassFromTrueVersion(VersionKey(5, 1)), kOsUnknownOrOlder);
    EXPECT_EQ(ClassFromTrueVersion(VersionKey(6, 4)), kOsUnknownOrOlder);
    EXPECT_EQ(ClassFromTrueVersion(VersionKey(9, 9)), kOsUnknownOrOlder);
    EXPECT_EQ(ClassFromTrueVersion(0), kOsUnknownOrOlder);
}

TEST(OsVersionClass, LegacyVersionStopsAtWindows8) {
    EXPECT_EQ(ClassFromLegacyVersion(VersionKey(10, 0)), kOsWindows8);
    EXPECT_EQ(ClassFromLegacyVersion(VersionKey(6, 3)), kOsWindows8);
    EXPECT_EQ(ClassFromLegacyVersion(VersionKey(6, 2)), kOsWindows8);
    EXPECT_EQ(ClassFromLegacyVersion(VersionKey(6, 1)), kOsWindows7);
    EXPECT_EQ(ClassFromLegacyVersion(VersionKey(6, 0)), kOsVista);
    EXPECT_EQ(ClassFromLegacyVersion(VersionKey(5, 2)), kOsUnknownOrOlder);
    EXPECT_EQ(ClassFromLegacyVersion(0), kOsUnknownOrOlder);
}

TEST(OsVersionClass, KeyIsMajorThenMinor) {
    EXPECT_EQ(VersionKey(6, 1), 0x0601u);
    EXPECT_EQ(VersionKey(10, 0), 0x0A00u);
}

} // namespace
