#include "TestSupport.h"

#include "app/PayloadLaunch.h"
#include "framework/UniqueHandle.h"
#include "package/UnPack.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

namespace {

int g_createCalls = 0;
int g_pauses = 0;
int g_failuresLeft = 0; // calls that fail before the real creation is made; -1 for all

std::wstring g_createdWith; // the descriptor the last creation was given, as text

int WINAPI CountingCreateDirectory(HWND window, LPCWSTR path, const SECURITY_ATTRIBUTES* security) {
    ++g_createCalls;
    g_createdWith.clear();
    LPWSTR text = nullptr;
    if (security != nullptr &&
        ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
            security->lpSecurityDescriptor, SDDL_REVISION_1,
            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
        g_createdWith = text;
        ::LocalFree(text);
    }
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

// The folder is created with the protected descriptor, and Wine's reflection of it (Wine maps a
// descriptor to Unix mode bits) lets everybody else out.
TEST_F(UnpackDir, FirstRunCreatesTheFolderForSystemAndAdministratorsOnly) {
    CUnPack unpack;
    EXPECT_EQ(unpack.GetUnpackDir(), folder);
    EXPECT_TRUE(unpack.OwnsFolder());
    EXPECT_EQ(g_createCalls, 1);
    EXPECT_EQ(g_pauses, 0);
    EXPECT_EQ(g_createdWith, L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)");

    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_EQ(::GetNamedSecurityInfoW(folder.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                      nullptr, nullptr, &dacl, nullptr, &descriptor),
              ERROR_SUCCESS);
    UniqueLocalMemory owned(descriptor);
    ASSERT_NE(dacl, nullptr);
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = nullptr;
    ASSERT_TRUE(
        ::AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone));
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(::GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_FALSE(::EqualSid(&ace->SidStart, everyone)) << "Everyone may touch the folder";
    }
    ::FreeSid(everyone);
}

TEST_F(UnpackDir, HeldFolderCannotBeRenamedAndLaterCallsDoNotCheckAgain) {
    CUnPack unpack;
    ASSERT_EQ(unpack.GetUnpackDir(), folder);
    const std::wstring moved = temp + L"moved";
    EXPECT_FALSE(::MoveFileW(folder.substr(0, folder.size() - 1).c_str(), moved.c_str()));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    unpack.ReleaseFolder();
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

TEST_F(UnpackDir, StaleFolderThatCannotBeRemovedIsNeverUsed) {
    MakeStaleFolder();
    // Held open without delete sharing: neither the file nor its folder can go.
    UniqueFileHandle held(::CreateFileW((folder + L"setup.msi").c_str(), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);

    CUnPack unpack;
    EXPECT_EQ(unpack.GetUnpackDir(), folder);
    EXPECT_FALSE(unpack.OwnsFolder());
    EXPECT_EQ(g_createCalls, 0) << "an existing folder is never taken for a created one";
    EXPECT_TRUE(Exists(folder + L"setup.msi"));
}

// Wine makes no junctions: a folder that the seam reports as one stands in for it.
DWORD WINAPI FolderAsJunction(LPCWSTR path) {
    const DWORD attributes = ::GetFileAttributesW(path);
    const std::wstring name(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && name.size() > 7 &&
        name.compare(name.size() - 7, 7, L"\\unpack") == 0)
        return attributes | FILE_ATTRIBUTE_REPARSE_POINT;
    return attributes;
}

TEST_F(UnpackDir, JunctionInTheFoldersPlaceIsRemovedAsALinkNeverFollowed) {
    g_os.GetFileAttributesW = FolderAsJunction;
    // What the junction leads to is not emptied: the link alone goes, or nothing is used.
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    WriteTextFile(folder + L"target.txt", "outside");
    {
        CUnPack unpack;
        unpack.GetUnpackDir();
        EXPECT_FALSE(unpack.OwnsFolder());
        EXPECT_TRUE(Exists(folder + L"target.txt"));
    }
    ASSERT_TRUE(::DeleteFileW((folder + L"target.txt").c_str()));
    CUnPack unpack;
    unpack.GetUnpackDir();
    EXPECT_TRUE(unpack.OwnsFolder()) << "an empty link goes and a fresh folder takes its place";
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

// --- The wait on the installer ---------------------------------------------------------------

const ChildRegistration slowInstaller(L"sleep-then-exit-7", [] {
    ::Sleep(1500);
    return 7;
});

DWORD WINAPI FailingWait(HANDLE, DWORD) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}
VOID WINAPI ShortPause(DWORD) {
    ::Sleep(100); // the three-second polls, shortened
}

TEST_F(UnpackDir, FailedWaitPollsUntilTheInstallerHasReallyEnded) {
    g_os.WaitForSingleObject = FailingWait;
    g_os.Sleep = ShortPause;
    ::DeleteFileW((temp + L"unpack.log").c_str());
    CUnPack unpack;
    LaunchCommand command;
    command.file = ThisExecutable();
    command.parameters = L"--child sleep-then-exit-7";
    command.directory = unpack.GetUnpackDir();
    command.show = SW_HIDE;
    WriteTextFile(folder + L"setup.msi", "extracted");

    ASSERT_TRUE(LaunchAndWait(command, unpack));
    EXPECT_FALSE(Exists(folder));
    const std::vector<unsigned char> log = ReadBytes(temp + L"unpack.log");
    const std::wstring text(reinterpret_cast<const wchar_t*>(log.data()), log.size() / 2);
    EXPECT_NE(text.find(L"[CUnPackFileApp::InitInstance] execute done code:7 "), std::wstring::npos)
        << "the folder went before the installer ended";
    ::DeleteFileW((temp + L"unpack.log").c_str());
}

} // namespace
