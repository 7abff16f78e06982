#include "util/PathText.h"

#include <gtest/gtest.h>

namespace {

TEST(PathText, AFinalPathLosesItsPrefixOnlyWhileTheRestFitsMaxPath) {
    EXPECT_EQ(PathToHandOn(L"\\\\?\\C:\\Windows\\Temp"), L"C:\\Windows\\Temp");
    EXPECT_EQ(PathToHandOn(L"\\\\?\\UNC\\server\\share\\x"), L"\\\\server\\share\\x");
    EXPECT_EQ(PathToHandOn(L"C:\\x"), L"C:\\x");

    const std::wstring fits = L"C:\\" + std::wstring(256, L'x'); // 259 characters
    EXPECT_EQ(PathToHandOn(L"\\\\?\\" + fits), fits);
    const std::wstring share = L"\\\\server\\share\\" + std::wstring(244, L'x');
    EXPECT_EQ(PathToHandOn(L"\\\\?\\UNC" + share.substr(1)), share);

    // One more, and only the prefixed form is taken by every Unicode file function.
    for (const std::wstring& longer :
         {L"\\\\?\\" + fits + L"x", L"\\\\?\\UNC" + share.substr(1) + L"x"})
        EXPECT_EQ(PathToHandOn(longer), longer);
}

// A path of 260 characters and more is handed on in the long form, and read back from it.
TEST(PathText, TooLongForThePlainFormTakesTheLongForm) {
    const std::wstring fits = L"C:\\" + std::wstring(256, L'a');
    EXPECT_EQ(LongPathForm(fits), fits);
    const std::wstring longer = fits + L"b";
    EXPECT_EQ(LongPathForm(longer), L"\\\\?\\" + longer);
    const std::wstring share = L"\\\\server\\share\\" + std::wstring(250, L'a');
    EXPECT_EQ(LongPathForm(share), L"\\\\?\\UNC\\server\\share\\" + std::wstring(250, L'a'));
    EXPECT_EQ(LongPathForm(L"\\\\?\\" + longer), L"\\\\?\\" + longer);
    EXPECT_EQ(LongPathForm(std::wstring(300, L'a')), std::wstring(300, L'a')) << "not a full path";
}

} // namespace
