// The file class the package is read and its files are written with, on real files.
#include "TestSupport.h"

#include "util/File.h"

#include <gtest/gtest.h>

namespace {

TEST(File, ReadsSeeksAndReportsItsLengthAndFullPath) {
    const std::wstring path = TempDir() + L"cfile-test.bin";
    WriteTextFile(path, "0123456789");
    const std::wstring previous = CurrentDirectory();
    ASSERT_TRUE(::SetCurrentDirectoryW(TempDir().c_str()));

    CFile file;
    ASSERT_TRUE(file.Open(L"cfile-test.bin", CFile::modeRead | CFile::shareDenyNone));
    ::SetCurrentDirectoryW(previous.c_str());
    EXPECT_EQ(file.GetFilePath(), path);
    EXPECT_EQ(file.GetLength(), 10u);

    char buffer[16] = {};
    EXPECT_EQ(file.Seek(-4, CFile::end), 6u);
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 4u);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_EQ(file.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(file.Seek(2, CFile::begin), 2u);
    EXPECT_EQ(file.Read(buffer, 3), 3u);
    EXPECT_EQ(std::string(buffer, 3), "234");
    EXPECT_EQ(file.Seek(-1, CFile::begin), CFile::kSeekFailed);
    file.Close();
    ::DeleteFileW(path.c_str());
}

TEST(File, WriteModeTruncatesAndAdmitsNoOtherOpener) {
    const std::wstring path = TempDir() + L"cfile-write.bin";
    WriteTextFile(path, "old content that is long");

    CFile out;
    ASSERT_TRUE(
        out.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive));
    EXPECT_TRUE(out.Write("new", 3));

    CFile other;
    CFileException error;
    EXPECT_FALSE(other.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone, &error));
    EXPECT_EQ(error.Cause(), CFileException::sharingViolation);
    out.Close();

    const std::vector<unsigned char> bytes = ReadBytes(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "new");
    ::DeleteFileW(path.c_str());
}

} // namespace
