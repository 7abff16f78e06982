#include "util/PathText.h"

#include <gtest/gtest.h>

namespace {

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
    for (const std::wstring& path : {longer, share})
        EXPECT_EQ(WithoutLongPathPrefix(LongPathForm(path)), path);
}

} // namespace
