#include "TestSupport.h"

#include "framework/UniqueHandle.h"
#include "package/UnPack.h"

#include <gtest/gtest.h>

namespace {

int g_createCalls = 0;
int g_pauses = 0;
int g_failuresLeft = 0; // calls that fail before the real creation is made; -1 for all

int WINAPI CountingCreateDirectory(HWND window, LPCWSTR path, const SECURITY_ATTRIBUTES* security) {
    ++g_createCalls;
    if (g_failuresLeft != 0) {
        if (g_failuresLeft > 0)
            --g_failuresLeft;
        return ERROR_ACCESS_DENIED;
    }
    return ::SHCreateDirectoryExW(window, path, security);
}

VOID WINAPI CountingSleep(DWORD) {
    ++g_pauses;
}

class UnpackDir : public testing::Test {
protected:
    const std::wstring temp = TempDir();
    const std::wstring folder = temp + L"unpack\\";
    const std::wstring tempWithoutSlash = temp.substr(0, temp.size() - 1);

    void SetUp() override {
        RemoveTree(folder.substr(0, folder.size() - 1));
        startDir_ = CurrentDirectory();
        g_createCalls = g_pauses = g_failuresLeft = 0;
        g_os.SHCreateDirectoryExW = CountingCreateDirectory;
        g_os.Sleep = CountingSleep;
    }
    void TearDown() override {
        ::SetCurrentDirectoryW(startDir_.c_str());
        RemoveTree(folder.substr(0, folder.size() - 1));
    }

    void MakeStaleFolder() {
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((folder + L"sub").c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((folder + L"sub\\deeper").c_str(), nullptr));
        WriteTextFile(folder + L"setup.msi", "old installer");
        WriteTextFile(folder + L"sub\\a.txt", "a");
        WriteTextFile(folder + L"sub\\deeper\\b.txt", "b");
    }

private:
    SystemCallsScope calls_;
    std::wstring startDir_;
};

TEST_F(UnpackDir, FirstRunCreatesTheFolderWithOneCallAndNoPause) {
    CUnPack unpack;
    EXPECT_EQ(unpack.GetUnpackDir(), folder);
    EXPECT_TRUE(Exists(folder));
    EXPECT_EQ(g_createCalls, 1);
    EXPECT_EQ(g_pauses, 0);
}

TEST_F(UnpackDir, LaterCallsReturnThePathWithoutCheckingAgain) {
    CUnPack unpack;
    ASSERT_EQ(unpack.GetUnpackDir(), folder);
    RemoveTree(folder.substr(0, folder.size() - 1));

    EXPECT_EQ(unpack.GetUnpackDir(), folder);
    EXPECT_FALSE(Exists(folder));
    EXPECT_EQ(g_createCalls, 1);
}

TEST_F(UnpackDir, StaleFolderIsReplacedAndTheTemporaryDirectoryBecomesCurrent) {
    MakeStaleFolder();
    CUnPack unpack;
    EXPECT_EQ(unpack.GetUnpackDir(), folder);

    EXPECT_TRUE(Exists(folder));
    EXPECT_FALSE(Exists(folder + L"setup.msi"));
    EXPECT_FALSE(Exists(folder + L"sub"));
    EXPECT_EQ(g_createCalls, 1);
    EXPECT_EQ(CurrentDirectory(), tempWithoutSlash);
}

TEST_F(UnpackDir, CreationThatAlwaysFailsMakes21CallsAnd20Pauses) {
    g_failuresLeft = -1;
    CUnPack unpack;
    EXPECT_EQ(unpack.GetUnpackDir(), folder);
    EXPECT_EQ(g_createCalls, 21);
    EXPECT_EQ(g_pauses, 20);
    EXPECT_FALSE(Exists(folder));
}

TEST_F(UnpackDir, CreationThatSucceedsOnTheThirdCallPausesTwice) {
    g_failuresLeft = 2;
    CUnPack unpack;
    EXPECT_EQ(unpack.GetUnpackDir(), folder);
    EXPECT_EQ(g_createCalls, 3);
    EXPECT_EQ(g_pauses, 2);
    EXPECT_TRUE(Exists(folder));
}

TEST_F(UnpackDir, StaleFolderThatCannotBeDeletedIsUsedAfterAllRetries) {
    MakeStaleFolder();
    // Held open without delete sharing: neither the file nor its folder can go.
    UniqueFileHandle held(::CreateFileW((folder + L"setup.msi").c_str(), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);

    CUnPack unpack;
    EXPECT_EQ(unpack.GetUnpackDir(), folder);
    EXPECT_EQ(g_createCalls, 21);
    EXPECT_EQ(g_pauses, 20);
    EXPECT_TRUE(Exists(folder + L"setup.msi"));
    EXPECT_FALSE(Exists(folder + L"sub"));
}

TEST_F(UnpackDir, CleanupRemovesTheFolderWhileItIsTheCurrentDirectory) {
    CUnPack unpack;
    const std::wstring path = unpack.GetUnpackDir();
    WriteTextFile(path + L"run.bat", "@echo off");
    ASSERT_TRUE(::CreateDirectoryW((path + L"nested").c_str(), nullptr));
    WriteTextFile(path + L"nested\\data.bin", "data");
    ASSERT_TRUE(::SetCurrentDirectoryW(path.c_str()));

    unpack.Cleanup();

    EXPECT_FALSE(Exists(folder));
    EXPECT_EQ(CurrentDirectory(), tempWithoutSlash);
    EXPECT_EQ(unpack.GetUnpackDir(), folder) << "the path stays fixed after clean-up";
    EXPECT_EQ(g_createCalls, 1);
}

TEST_F(UnpackDir, CleanupBeforeThePathIsFixedTouchesNothing) {
    MakeStaleFolder();
    const std::wstring here = folder + L"sub";
    ASSERT_TRUE(::SetCurrentDirectoryW(here.c_str()));

    CUnPack unpack;
    unpack.Cleanup();

    EXPECT_EQ(CurrentDirectory(), here);
    EXPECT_TRUE(Exists(folder + L"setup.msi"));
}

} // namespace
