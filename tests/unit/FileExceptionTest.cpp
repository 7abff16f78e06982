#include "framework/FileException.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring MessageOf(int cause, const std::wstring& name) {
    return CFileException(cause, 0, name).ErrorText();
}

TEST(FileExceptionText, NamesTheFileOrSaysItIsUnnamed) {
    EXPECT_EQ(MessageOf(CFileException::fileNotFound, L"C:\\Temp\\unpack\\setup.msi"),
              L"C:\\Temp\\unpack\\setup.msi was not found.");
    EXPECT_EQ(MessageOf(CFileException::fileNotFound, L""), L"an unnamed file was not found.");
    EXPECT_EQ(MessageOf(CFileException::badSeek, L"a.bin"), L"Seek failed on a.bin");
    EXPECT_EQ(MessageOf(CFileException::none, L"a.bin"), L"No error occurred.");
    EXPECT_EQ(MessageOf(CFileException::endOfFile, L"x"), L"Attempted to access x past its end.");
}

TEST(FileExceptionText, UnknownCauseReadsAsUnknownError) {
    EXPECT_EQ(MessageOf(99, L"x"), L"An unknown error occurred while accessing x.");
    EXPECT_EQ(MessageOf(-1, L"x"), L"An unknown error occurred while accessing x.");
}

TEST(FileExceptionText, NameWithPercentOneIsInsertedOnce) {
    EXPECT_EQ(MessageOf(CFileException::accessDenied, L"%1.txt"), L"Access to %1.txt was denied.");
}

TEST(FileExceptionText, IsCutAt1023Characters) {
    const std::wstring text = MessageOf(CFileException::fileNotFound, std::wstring(2000, L'n'));
    EXPECT_EQ(text.size(), 1023u);
    EXPECT_EQ(text, std::wstring(1023, L'n'));
}

TEST(FileExceptionText, GetErrorMessageStaysInsideTheBuffer) {
    const CFileException error(CFileException::fileNotFound, 2, L"abcdef");
    wchar_t buffer[8];
    std::fill(std::begin(buffer), std::end(buffer), L'#');
    ASSERT_TRUE(error.GetErrorMessage(buffer, 5));
    EXPECT_EQ(std::wstring(buffer), L"abcd");
    EXPECT_EQ(buffer[5], L'#');
    EXPECT_FALSE(error.GetErrorMessage(buffer, 0));
}

TEST(FileExceptionCause, SetKeepsCodeAndName) {
    CFileException error;
    error.Set(32, L"C:\\x.bin");
    EXPECT_EQ(error.Cause(), CFileException::sharingViolation);
    EXPECT_EQ(error.OsError(), 32u);
    EXPECT_EQ(error.ErrorText(), L"Encountered a sharing violation while accessing C:\\x.bin.");
}

} // namespace
