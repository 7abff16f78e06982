#include "registry/ProductKeyRules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ProductKeyPlaceholder, MatchesTheWholePathInAnyAsciiCase) {
    EXPECT_TRUE(IsProductKeyPlaceholder(L"UNIVERSAL_PATH_CONVERT"));
    EXPECT_TRUE(IsProductKeyPlaceholder(L"universal_path_convert"));
    EXPECT_TRUE(IsProductKeyPlaceholder(L"Universal_Path_CONVERT"));
}

TEST(ProductKeyPlaceholder, PathsThatOnlyContainItAreNotIt) {
    EXPECT_FALSE(IsProductKeyPlaceholder(L""));
    EXPECT_FALSE(IsProductKeyPlaceholder(L"Software\\UNIVERSAL_PATH_CONVERT"));
    EXPECT_FALSE(IsProductKeyPlaceholder(L"UNIVERSAL_PATH_CONVERT\\Sub"));
    EXPECT_FALSE(IsProductKeyPlaceholder(L"UNIVERSAL_PATH_CONVERT "));
    EXPECT_FALSE(IsProductKeyPlaceholder(L"UNIVERSAL_PATH_CONVER"));
    // Capital I with dot is no "I" under the A-to-Z rule.
    EXPECT_FALSE(IsProductKeyPlaceholder(L"UN\u0130VERSAL_PATH_CONVERT"));
}

TEST(ProductKeyChoice, OnlyServerModeOneSelectsTheBusinessKey) {
    EXPECT_EQ(std::wstring(ProductKeyPathForServerMode(1)),
              L"Software\\Tovari Inc.\\Tovari Remote Server for Business");
    for (const std::uint32_t mode : {0u, 2u, 0x101u, 0xFFFFFFFFu})
        EXPECT_EQ(std::wstring(ProductKeyPathForServerMode(mode)),
                  L"Software\\Tovari Inc.\\Tovari Remote Server")
            << "mode " << mode;
}

} // namespace
