#include "TestSupport.h"

#include "framework/UniqueHandle.h"
#include "package/UnPack.h"

#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>
#include <winternl.h>

#include <set>

namespace {

int g_createCalls = 0;
bool g_creationFails = false;
bool g_swapAfterCreation = false; // try to put another folder in the created one's place
DWORD g_swapError = 0;            // why that failed
std::wstring g_createdWith;       // the descriptor the last creation was given, as text

// Folders the seam shows as an earlier run's, owned and protected as a run leaves them (Wine
// keeps no access-control lists to show it for real).
std::set<std::wstring> g_runFolders;
// Whether the seam shows the root closed to users, as SYSTEM's SystemTemp is; otherwise what Wine
// says of the machine's Temp, which no user-free descriptor shows.
bool g_rootClosed = false;
std::vector<std::wstring> g_scheduled; // what was left for the next restart, in order

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
        // A rename-and-recreate right after the creation, as another program would try.
        const std::wstring folder = MachineTempDir() + L"unpack";
        g_swapError = ::MoveFileW(folder.c_str(), (MachineTempDir() + L"moved").c_str())
                          ? 0
                          : ::GetLastError();
    }
    return result;
}

std::wstring LastComponent(HANDLE file) {
    wchar_t path[MAX_PATH * 2] = {};
    const DWORD length = ::GetFinalPathNameByHandleW(file, path, MAX_PATH * 2, 0);
    const std::wstring name(path, length < MAX_PATH * 2 ? length : 0);
    return name.substr(name.rfind(L'\\') + 1);
}

DWORD WINAPI RunsSecurity(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION info,
                          PSID* owner, PSID* group, PACL* dacl, PACL* sacl,
                          PSECURITY_DESCRIPTOR* descriptor) {
    const std::wstring name = LastComponent(handle);
    const bool root = _wcsicmp(name.c_str(), L"temp") == 0;
    if (type != SE_FILE_OBJECT || (g_runFolders.count(name) == 0 && !(root && g_rootClosed)))
        return ::GetSecurityInfo(handle, type, info, owner, group, dacl, sacl, descriptor);
    // The root as Windows makes SystemTemp: a user's creator-owner entry applies to what is
    // created inside only.
    PSECURITY_DESCRIPTOR made = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            root ? L"O:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(D;;FA;;;WD)(A;OICIIO;FA;;;CO)"
                 : L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)",
            SDDL_REVISION_1, &made, nullptr))
        return ::GetLastError();
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    ::GetSecurityDescriptorOwner(made, owner, &defaulted);
    ::GetSecurityDescriptorDacl(made, &present, dacl, &defaulted);
    *descriptor = made;
    return ERROR_SUCCESS;
}

BOOL WINAPI RecordingMoveAtRestart(LPCWSTR path, LPCWSTR target, DWORD flags) {
    if (target != nullptr || flags != MOVEFILE_DELAY_UNTIL_REBOOT)
        return FALSE;
    g_scheduled.push_back(path);
    return TRUE;
}

VOID WINAPI NoPause(DWORD) {}

class UnpackDir : public testing::Test {
protected:
    const std::wstring root = MachineTempDir();
    const std::wstring folder = root + L"unpack\\";
    const std::wstring rootWithoutSlash = root.substr(0, root.size() - 1);

    void SetUp() override {
        RemoveExtractionFolders();
        ::DeleteFileW(LogPath().c_str());
        startDir_ = CurrentDirectory();
        g_createCalls = 0;
        g_creationFails = false;
        g_swapAfterCreation = false;
        g_swapError = 0;
        g_runFolders.clear();
        g_rootClosed = false;
        g_scheduled.clear();
        g_os.NtCreateFile = CountingCreate;
        g_os.GetSecurityInfo = RunsSecurity;
        g_os.MoveFileExW = RecordingMoveAtRestart;
        g_os.Sleep = NoPause; // the retries are not waited for
    }
    void TearDown() override {
        ::SetCurrentDirectoryW(startDir_.c_str());
        RemoveExtractionFolders();
        RemoveTree(root + L"moved");
        ::DeleteFileW(LogPath().c_str());
    }

    void MakeFolder(const std::wstring& path) {
        ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((path + L"sub").c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW((path + L"sub\\deeper").c_str(), nullptr));
        WriteTextFile(path + L"setup.msi", "old installer");
        WriteTextFile(path + L"sub\\a.txt", "a");
        WriteTextFile(path + L"sub\\deeper\\b.txt", "b");
    }

    // The one folder "unpack.<16 hex digits>" in the machine's temporary directory, or empty.
    std::wstring FreshFolder() {
        WIN32_FIND_DATAW entry;
        UniqueFindHandle search(::FindFirstFileW((root + L"unpack.*").c_str(), &entry));
        std::wstring found;
        for (bool more = static_cast<bool>(search); more;
             more = ::FindNextFileW(search.get(), &entry)) {
            if (std::wstring(entry.cFileName) == L"unpack") // "*.*" matches it too
                continue;
            found += (found.empty() ? L"" : L" and ") + root + entry.cFileName + L"\\";
        }
        return found;
    }

private:
    SystemCallsScope calls_;
    std::wstring startDir_;
};

// The folder lies in the machine's temporary directory whatever the caller's TEMP and windir
// say, and is created with the protected descriptor; Wine's reflection of it (Wine maps a
// descriptor to Unix mode bits) lets everybody else out.
TEST_F(UnpackDir, ItLiesInTheMachinesTemporaryDirectoryForSystemAndAdministratorsOnly) {
    ::SetEnvironmentVariableW(L"windir", L"C:\\evilwin");
    ::SetEnvironmentVariableW(L"SystemRoot", L"C:\\evilwin");
    CUnPack unpack;
    EXPECT_EQ(unpack.GetUnpackDir(), folder);
    ::SetEnvironmentVariableW(L"windir", L"C:\\windows");
    ::SetEnvironmentVariableW(L"SystemRoot", L"C:\\windows");
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
    PSID everyone = nullptr;
    ASSERT_TRUE(::ConvertStringSidToSidW(L"S-1-1-0", &everyone));
    const UniqueLocalMemory ownedSid(everyone);
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(::GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_FALSE(::EqualSid(&ace->SidStart, everyone)) << "Everyone may touch the folder";
    }
}

// The folder is held by the call that created it: no moment is left to swap it in.
TEST_F(UnpackDir, FolderCannotBeSwappedFromItsCreationOnAndLaterCallsDoNotCheckAgain) {
    g_swapAfterCreation = true;
    CUnPack unpack;
    ASSERT_EQ(unpack.GetUnpackDir(), folder);
    EXPECT_EQ(g_swapError, static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(Exists(root + L"moved"));
    EXPECT_TRUE(unpack.Folder().IsOwn());

    EXPECT_TRUE(unpack.Cleanup());
    EXPECT_EQ(unpack.GetUnpackDir(), folder);
    EXPECT_FALSE(Exists(folder));
    EXPECT_EQ(g_createCalls, 1);
}

// A name another program took ("unpack" made by a user, a file, a link: Wine shows none of them
// as a run's) is never used and never touched: the run extracts into a fresh name beside it.
TEST_F(UnpackDir, ANameSomebodyElseTookStaysAsItIsAndAFreshFolderIsUsed) {
    MakeFolder(folder);
    CUnPack unpack;
    const std::wstring fresh = unpack.GetUnpackDir();
    EXPECT_EQ(fresh, FreshFolder());
    EXPECT_EQ(fresh.size(), folder.size() + 17) << "unpack. and sixteen hexadecimal digits";
    EXPECT_TRUE(unpack.Folder().IsOwn());
    EXPECT_TRUE(Exists(folder + L"setup.msi"));
    EXPECT_TRUE(Exists(folder + L"sub\\deeper\\b.txt"));
    EXPECT_TRUE(Contains(LogMessages(), L"[CUnPack::GetUnpackDir] " + folder +
                                            L" is taken and stays as it is; extracting into " +
                                            fresh));

    EXPECT_TRUE(unpack.Cleanup());
    EXPECT_FALSE(Exists(fresh));
    EXPECT_TRUE(Exists(folder + L"setup.msi")) << "the clean-up deletes only this run's folder";
}

// Earlier runs' folders go before the extraction; one a file is still held in stays, and does not
// stop the run. Where no user can create names it goes at the next restart, file first; in the
// machine's Temp a path deleted at the restart could by then lead into a user's junction, so it is
// left for the next run to remove through handles.
TEST_F(UnpackDir, EarlierRunsFoldersAreRemovedOrLeftForLater) {
    const std::wstring earlier = root + L"unpack.00000000000000a1\\";
    const std::wstring earlierPath = earlier.substr(0, earlier.size() - 1);
    const std::vector<std::wstring> left{earlierPath + L"\\setup.msi", earlierPath};
    for (const bool closed : {true, false}) {
        SCOPED_TRACE(closed ? "closed to users" : "open to users");
        RemoveExtractionFolders();
        ::DeleteFileW(LogPath().c_str());
        g_scheduled.clear();
        g_rootClosed = closed;
        MakeFolder(folder);
        MakeFolder(earlier);
        g_runFolders = {L"unpack", L"unpack.00000000000000a1"};
        // Held open without delete sharing: neither the file nor its folder can go now.
        const UniqueFileHandle held(::CreateFileW((earlier + L"setup.msi").c_str(), GENERIC_READ,
                                                  FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);

        CUnPack unpack;
        EXPECT_EQ(unpack.GetUnpackDir(), folder) << "the earlier run's unpack went";
        EXPECT_TRUE(unpack.Folder().IsOwn());
        EXPECT_FALSE(Exists(folder + L"setup.msi"));
        EXPECT_FALSE(Exists(earlier + L"sub"));
        EXPECT_TRUE(Exists(earlier + L"setup.msi"));
        EXPECT_EQ(g_scheduled, closed ? left : std::vector<std::wstring>());
        const std::vector<std::wstring> messages = LogMessages();
        for (const std::wstring& path : left)
            EXPECT_TRUE(Contains(messages, std::wstring(L"[CUnPack::GetUnpackDir] ") +
                                               (closed ? L"Left until the next restart:"
                                                       : L"Left for the next run to remove:") +
                                               path));
        EXPECT_TRUE(unpack.Cleanup());
    }
}

TEST_F(UnpackDir, AFolderThatCannotBeCreatedIsNeverOwned) {
    g_creationFails = true;
    CUnPack unpack;
    EXPECT_FALSE(unpack.GetUnpackDir().empty()) << "the path is fixed all the same";
    EXPECT_FALSE(unpack.Folder().IsOwn());
    EXPECT_FALSE(Exists(folder));
    EXPECT_TRUE(Contains(LogMessages(), L"[CUnPack::GetUnpackDir] Folder could not be created:" +
                                            unpack.GetUnpackDir()));
}

// Who the process is decides where it extracts: SYSTEM in SystemTemp where Windows made one, a
// token without administrator rights in its own temporary directory.
BOOL WINAPI NotAMember(HANDLE, PSID, PBOOL member) {
    *member = FALSE;
    return TRUE;
}

TEST_F(UnpackDir, SystemExtractsIntoSystemTempWhereWindowsHasIt) {
    PSID system = nullptr;
    ASSERT_TRUE(::ConvertStringSidToSidW(L"S-1-5-18", &system));
    const UniqueLocalMemory ownedSid(system);
    ReportTokenUser(system);

    const std::wstring systemTemp = root.substr(0, root.size() - 5) + L"SystemTemp\\";
    RemoveTree(systemTemp.substr(0, systemTemp.size() - 1));
    {
        CUnPack unpack;
        EXPECT_EQ(unpack.GetUnpackDir(), folder) << "no SystemTemp: the Windows directory's Temp";
        EXPECT_TRUE(unpack.Cleanup());
    }
    ASSERT_TRUE(::CreateDirectoryW(systemTemp.c_str(), nullptr));
    {
        CUnPack unpack;
        EXPECT_EQ(unpack.GetUnpackDir(), systemTemp + L"unpack\\");
        EXPECT_TRUE(unpack.Folder().IsOwn());
        EXPECT_TRUE(unpack.Cleanup());
    }
    ReportTokenUser(nullptr);
    RemoveTree(systemTemp.substr(0, systemTemp.size() - 1));
}

TEST_F(UnpackDir, AProcessWithoutAdministratorRightsUsesItsOwnTemporaryDirectory) {
    g_os.CheckTokenMembership = NotAMember;
    CUnPack unpack;
    EXPECT_EQ(unpack.GetUnpackDir(), TempDir() + L"unpack\\");
    EXPECT_TRUE(unpack.Folder().IsOwn());
    EXPECT_EQ(g_createdWith.compare(0, 4, L"O:S-"), 0)
        << "owned by the user: " << Narrow(g_createdWith);
    EXPECT_TRUE(unpack.Cleanup());
    EXPECT_FALSE(Exists(TempDir() + L"unpack"));
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
    EXPECT_EQ(CurrentDirectory(), rootWithoutSlash);
    EXPECT_EQ(unpack.GetUnpackDir(), folder) << "the path stays fixed after clean-up";
    EXPECT_EQ(g_createCalls, 1);
}

TEST_F(UnpackDir, CleanupBeforeThePathIsFixedTouchesNothing) {
    MakeFolder(folder);
    const std::wstring here = folder + L"sub";
    ASSERT_TRUE(::SetCurrentDirectoryW(here.c_str()));

    CUnPack unpack;
    unpack.Cleanup();

    EXPECT_EQ(CurrentDirectory(), here);
    EXPECT_TRUE(Exists(folder + L"setup.msi"));
}

} // namespace
