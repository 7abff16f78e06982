#include "TestSupport.h"

#include "framework/UniqueHandle.h"
#include "package/UnPack.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

namespace {

int g_createCalls = 0;
bool g_creationFails = false;
bool g_swapAfterCreation = false; // try to put another folder in the created one's place
DWORD g_swapError = 0;            // why that failed

std::wstring g_createdWith; // the descriptor the last creation was given, as text

// The extraction folder's creation: the one call that creates a directory.
LONG NTAPI CountingCreate(PHANDLE file, ACCESS_MASK access, PVOID attributes, PVOID status,
                          PLARGE_INTEGER allocation, ULONG fileAttributes, ULONG share,
                          ULONG disposition, ULONG options, PVOID extended, ULONG length) {
    const auto* object = static_cast<OBJECT_ATTRIBUTES*>(attributes);
    const bool createsFolder = disposition == FILE_CREATE && (options & FILE_DIRECTORY_FILE);
    if (createsFolder) {
        ++g_createCalls;
        g_createdWith.clear();
        LPWSTR text = nullptr;
        if (object->SecurityDescriptor != nullptr &&
            ::ConvertSecurityDescriptorToStringSecurityDescriptorW(
                object->SecurityDescriptor, SDDL_REVISION_1,
                OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text, nullptr)) {
            g_createdWith = text;
            ::LocalFree(text);
        }
        if (g_creationFails)
            return static_cast<LONG>(0xC0000022); // STATUS_ACCESS_DENIED
    }
    const LONG result =
        RealSystemCalls().NtCreateFile(file, access, attributes, status, allocation, fileAttributes,
                                       share, disposition, options, extended, length);
    if (createsFolder && result >= 0 && g_swapAfterCreation) {
        // A rename-and-recreate right after the creation, as the user's program would try.
        const std::wstring folder = TempDir() + L"unpack";
        g_swapError =
            ::MoveFileW(folder.c_str(), (TempDir() + L"moved").c_str()) ? 0 : ::GetLastError();
    }
    return result;
}

DWORD WINAPI CloseAfterAWhile(LPVOID handle) {
    ::Sleep(300);
    ::CloseHandle(handle);
    return 0;
}

VOID WINAPI NoPause(DWORD) {}

class UnpackDir : public testing::Test {
protected:
    const std::wstring temp = TempDir();
    const std::wstring folder = temp + L"unpack\\";
    const std::wstring tempWithoutSlash = temp.substr(0, temp.size() - 1);

    void SetUp() override {
        RemoveTree(folder.substr(0, folder.size() - 1));
        startDir_ = CurrentDirectory();
        g_createCalls = 0;
        g_creationFails = false;
        g_swapAfterCreation = false;
        g_swapError = 0;
        g_os.NtCreateFile = CountingCreate;
        g_os.Sleep = NoPause; // the retries are not waited for
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
    EXPECT_TRUE(unpack.Folder().IsOwn());
    EXPECT_EQ(g_createCalls, 1);
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

// The folder is held by the call that created it: no moment is left to swap it in.
TEST_F(UnpackDir, FolderCannotBeSwappedFromItsCreationOnAndLaterCallsDoNotCheckAgain) {
    g_swapAfterCreation = true;
    CUnPack unpack;
    ASSERT_EQ(unpack.GetUnpackDir(), folder);
    EXPECT_EQ(g_swapError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(Exists(temp + L"moved"));
    EXPECT_TRUE(unpack.Folder().IsOwn());

    unpack.Folder().LetGo();
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

TEST_F(UnpackDir, AFolderThatCannotBeCreatedIsNeverOwned) {
    g_creationFails = true;
    CUnPack unpack;
    EXPECT_EQ(unpack.GetUnpackDir(), folder) << "the path is fixed all the same";
    EXPECT_FALSE(unpack.Folder().IsOwn());
    EXPECT_FALSE(Exists(folder));
    EXPECT_TRUE(
        Contains(LogMessages(), L"[CUnPack::GetUnpackDir] Folder could not be created:" + folder));
}

// A stale folder that another program holds open, letting it be deleted, goes when that program
// lets go: the creation waits for it.
TEST_F(UnpackDir, TheFolderIsCreatedOnceTheHolderOfTheStaleOneLetsGo) {
    g_os.Sleep = ::Sleep;
    MakeStaleFolder();
    UniqueFileHandle holder(::CreateFileW(
        folder.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    ASSERT_TRUE(holder);
    const HANDLE held = holder.release();
    const UniqueHandle lettingGo(::CreateThread(nullptr, 0, CloseAfterAWhile, held, 0, nullptr));
    ASSERT_TRUE(lettingGo);

    CUnPack unpack;
    EXPECT_EQ(unpack.GetUnpackDir(), folder);
    EXPECT_TRUE(unpack.Folder().IsOwn());
    EXPECT_FALSE(Exists(folder + L"setup.msi"));
    ::WaitForSingleObject(lettingGo.get(), INFINITE);
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
    EXPECT_FALSE(unpack.Folder().IsOwn());
    EXPECT_EQ(g_createCalls, 0) << "an existing folder is never taken for a created one";
    EXPECT_TRUE(Exists(folder + L"setup.msi"));
}

// Wine makes no junctions: a folder that the seam reports as one stands in for it.
BOOL WINAPI FolderAsJunction(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) {
    const BOOL ok = ::GetFileInformationByHandleEx(file, kind, info, size);
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD length = ::GetFinalPathNameByHandleW(file, path, MAX_PATH * 2, 0);
    const std::wstring name(path, length);
    if (ok && kind == FileAttributeTagInfo && name.size() > 7 &&
        name.compare(name.size() - 7, 7, L"\\unpack") == 0) {
        static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info)->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info)->ReparseTag = IO_REPARSE_TAG_MOUNT_POINT;
    }
    return ok;
}

TEST_F(UnpackDir, JunctionInTheFoldersPlaceIsRemovedAsALinkNeverFollowed) {
    g_os.GetFileInformationByHandleEx = FolderAsJunction;
    // What the junction leads to is not emptied: the link alone goes, or nothing is used.
    ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    WriteTextFile(folder + L"target.txt", "outside");
    {
        CUnPack unpack;
        unpack.GetUnpackDir();
        EXPECT_FALSE(unpack.Folder().IsOwn());
        EXPECT_TRUE(Exists(folder + L"target.txt"));
    }
    ASSERT_TRUE(::DeleteFileW((folder + L"target.txt").c_str()));
    CUnPack unpack;
    unpack.GetUnpackDir();
    EXPECT_TRUE(unpack.Folder().IsOwn()) << "an empty link goes and a fresh folder takes its place";
}

TEST_F(UnpackDir, CleanupRemovesTheFolderWhileItIsTheCurrentDirectory) {
    CUnPack unpack;
    const std::wstring path = unpack.GetUnpackDir();
    WriteTextFile(path + L"run.bat", "@echo off");
    ASSERT_TRUE(::CreateDirectoryW((path + L"nested").c_str(), nullptr));
    WriteTextFile(path + L"nested\\data.bin", "data");
    ASSERT_TRUE(::SetCurrentDirectoryW(path.c_str()));

    EXPECT_TRUE(unpack.Cleanup());

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
