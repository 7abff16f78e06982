#include "util/AsciiCase.h"

#include <gtest/gtest.h>

namespace {

TEST(AsciiCase, ExecutableNamesMatchInAnyAsciiCase) {
    EXPECT_TRUE(EqualsIgnoringAsciiCase(L"explorer.exe", L"EXPLORER.EXE"));
    EXPECT_TRUE(EqualsIgnoringAsciiCase(L"Explorer.Exe", L"eXPLORER.eXE"));
    EXPECT_TRUE(EqualsIgnoringAsciiCase(L"", L""));
}

TEST(AsciiCase, DifferentTextsOrLengthsDoNotMatch) {
    EXPECT_FALSE(EqualsIgnoringAsciiCase(L"explorer.exe", L"explorer.ex"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase(L"explorer.ex", L"explorer.exe"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase(L"explorer.exe", L"explorer.exf"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase(L"explorer.exe", L""));
    // Neighbours of the letter ranges are not letters: '@' and '`', '[' and '{'.
    EXPECT_FALSE(EqualsIgnoringAsciiCase(L"@", L"`"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase(L"[", L"{"));
}

TEST(AsciiCase, NonAsciiLettersKeepTheirCase) {
    // A with diaeresis, upper (U+00C4) and lower (U+00E4); capital I with dot (U+0130) and i.
    EXPECT_FALSE(EqualsIgnoringAsciiCase(L"proc-\u00e4.exe", L"proc-\u00c4.exe"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase(L"\u0130", L"i"));
    EXPECT_TRUE(EqualsIgnoringAsciiCase(L"PROC-\u00e4.EXE", L"proc-\u00e4.exe"));
}

TEST(AsciiCase, UpperCasingTouchesOnlyAToZ) {
    std::wstring text = L"az AZ 09 -_. \u00e4\u00df\u00e9";
    ToAsciiUpper(text);
    EXPECT_EQ(text, L"AZ AZ 09 -_. \u00e4\u00df\u00e9");
    EXPECT_EQ(ToAsciiUpper(L'`'), L'`');
    EXPECT_EQ(ToAsciiUpper(L'{'), L'{');
    EXPECT_EQ(ToAsciiUpper(L'q'), L'Q');
}

} // namespace
