#include "registry/DeploymentCodeParse.h"

#include <gtest/gtest.h>

namespace {

bool AsciiLetterOrDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

// As the system's classification does: some non-ASCII letters count too.
bool AlsoAccentedLetters(wchar_t c) {
    return AsciiLetterOrDigit(c) || c == L'\u00c4' || c == L'\u00e4' || c == L'\u00e9';
}

std::optional<DeploymentCode> Parse(const std::wstring& path,
                                    LetterOrDigitTest test = AsciiLetterOrDigit) {
    return ParseDeploymentCode(path, test);
}

// --- Names that carry a code --------------------------------------------------------------------

TEST(DeploymentCodeParse, CodeAndLowerCaseRegionAfterTheLastDash) {
    const auto parsed = Parse(L"C:\\Users\\me\\Downloads\\setup-ABCDEFGHIJKLus.exe");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->code, L"ABCDEFGHIJKL");
    EXPECT_EQ(parsed->region, L"US");
    EXPECT_EQ(DeploymentCodeText(*parsed), L"ABCDEFGHIJKLUS");
}

TEST(DeploymentCodeParse, CodeFollowedByTheExtensionHasNoRegion) {
    const auto parsed = Parse(L"C:\\d\\setup-abcDEF123456.exe");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->code, L"abcDEF123456"); // the code keeps its case
    EXPECT_EQ(parsed->region, L"");
    EXPECT_EQ(DeploymentCodeText(*parsed), L"abcDEF123456");
}

TEST(DeploymentCodeParse, TwoDashesUseTheTextAfterTheLastOne) {
    const auto parsed = Parse(L"C:\\d\\setup-ZZZZZZZZZZZZ-ABCDEFGHIJKLde.exe");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->code, L"ABCDEFGHIJKL");
    EXPECT_EQ(parsed->region, L"DE");
}

TEST(DeploymentCodeParse, CodeAtTheVeryEndOfThePath) {
    const auto exact = Parse(L"C:\\d\\setup-ABCDEFGHIJKL");
    ASSERT_TRUE(exact.has_value());
    EXPECT_EQ(exact->region, L"");
    const auto oneMore = Parse(L"C:\\d\\setup-ABCDEFGHIJKLx"); // one character is no region
    ASSERT_TRUE(oneMore.has_value());
    EXPECT_EQ(oneMore->region, L"");
}

TEST(DeploymentCodeParse, RegionWithOneBadCharacterIsLeftOut) {
    const auto parsed = Parse(L"C:\\d\\setup-ABCDEFGHIJKLu_.exe");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->code, L"ABCDEFGHIJKL");
    EXPECT_EQ(parsed->region, L"");
}

TEST(DeploymentCodeParse, NonAsciiLettersCountWhenTheClassificationSaysSo) {
    const std::wstring path = L"C:\\d\\setup-\u00c4BCDEFGHIJK\u00e4\u00e9u.exe";
    EXPECT_FALSE(Parse(path, AsciiLetterOrDigit).has_value());

    const auto parsed = Parse(path, AlsoAccentedLetters);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->code, L"\u00c4BCDEFGHIJK\u00e4");
    // Upper-casing the region changes a to z only.
    EXPECT_EQ(parsed->region, L"\u00e9U");
}

// --- Names that carry none -------------------------------------------------------------------

TEST(DeploymentCodeParse, NoDash) {
    EXPECT_FALSE(Parse(L"C:\\d\\setupABCDEFGHIJKLus.exe").has_value());
    EXPECT_FALSE(Parse(L"").has_value());
}

TEST(DeploymentCodeParse, FewerThanTwelveCharactersAfterTheDash) {
    EXPECT_FALSE(Parse(L"C:\\d\\setup-ABCDEFG.exe").has_value());
    EXPECT_FALSE(Parse(L"C:\\d\\setup-ABCDEFGHIJK").has_value());
    EXPECT_FALSE(Parse(L"C:\\d\\setup-").has_value());
}

TEST(DeploymentCodeParse, TwelveCharactersThatAreNotAllLettersOrDigits) {
    EXPECT_FALSE(Parse(L"C:\\d\\setup-ABCDEFGHIJ.exe").has_value()); // ".e" in the code
    EXPECT_FALSE(Parse(L"C:\\d\\setup-ABCDEF HIJKLus.exe").has_value());
    EXPECT_FALSE(Parse(L"C:\\d\\setup-ABCDEFGHIJK_us.exe").has_value());
}

TEST(DeploymentCodeParse, DashOnlyInAFolderName) {
    EXPECT_FALSE(Parse(L"C:\\deploy-ABCDEFGHIJKLus\\setup.exe").has_value());
    // Even when the folder part after the dash is long enough to hold a code.
    EXPECT_FALSE(Parse(L"C:\\x-ABCDEFGHIJKLMNOP\\setupABCDEFGHIJKL.exe").has_value());
    // The file name after a dash in a folder: still no dash in the file name itself.
    EXPECT_FALSE(Parse(L"C:\\deploy-x\\ABCDEFGHIJKLus.exe").has_value());
}

} // namespace
