// The temporary directory is resolved once per process, so each case runs in a child of its own.
// The child reports through files in the parent's temporary directory.
#include "TestSupport.h"

#include "package/UnPack.h"
#include "util/Utility.h"

#include <gtest/gtest.h>

#include <sddl.h>

#include <winternl.h>

namespace {

// What a child found: where its log, folder and output lie, one per line. Named by the parent,
// whose temporary directory a child may not share.
std::wstring ReportPath() {
    wchar_t path[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"TEMP_TEST_REPORT", path, MAX_PATH) == 0)
        return TempDir() + L"temp-directory-report.txt";
    return path;
}

void Report(const std::wstring& text) {
    WriteTextFile(ReportPath(), Narrow(text));
}

std::string ReadReport() {
    const std::vector<unsigned char> bytes = ReadBytes(ReportPath());
    return std::string(bytes.begin(), bytes.end());
}

// Logs a line, fixes the extraction folder and takes the script's output, then reports where
// each went: the log and the output where the temporary directory is, the folder in the machine's
// whatever it is.
int UseTheTemporaryDirectory() {
    CUtility::Log(L"[%s] here", L"Test::Temp");
    CUnPack unpack;
    const std::wstring folder = unpack.GetUnpackDir();
    UniqueFileHandle output;
    const int taken = CUtility::TakeScriptOutput(output) ? 1 : 0;
    Report(CUtility::GetLogFilePath() + L"\n" + folder + L"\n" + std::to_wstring(taken) +
           (unpack.Folder().IsOwn() ? L" owned" : L" not owned"));
    output.reset();
    unpack.Cleanup();
    return 0;
}

std::wstring g_systemTemp; // what the fake GetTempPath2W answers

DWORD WINAPI FakeTempPath2(DWORD size, LPWSTR buffer) {
    if (g_systemTemp.size() >= size)
        return static_cast<DWORD>(g_systemTemp.size() + 1);
    g_systemTemp.copy(buffer, g_systemTemp.size());
    buffer[g_systemTemp.size()] = L'\0';
    return static_cast<DWORD>(g_systemTemp.size());
}

FARPROC WINAPI OfferTempPath2(HMODULE module, LPCSTR name) {
    if (std::string(name) == "GetTempPath2W")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(FakeTempPath2));
    return ::GetProcAddress(module, name);
}

DWORD WINAPI NoTempPath(DWORD, LPWSTR) {
    ::SetLastError(ERROR_ENVVAR_NOT_FOUND);
    return 0;
}

// Run as the parent names it in TEMP_TEST_DIR: the directory GetTempPath2W gives SYSTEM.
const ChildRegistration systemTemp(L"temp-from-get-temp-path-2", [] {
    wchar_t dir[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"TEMP_TEST_DIR", dir, MAX_PATH);
    g_systemTemp = dir;
    g_os.GetProcAddress = OfferTempPath2;
    return UseTheTemporaryDirectory();
});

// GetTempPathW answering with TEMP_TEST_DIR as Windows does for a TMP longer than the buffer:
// the size it needs. Wine's own cuts such a TMP off.
DWORD WINAPI LongTempPath(DWORD size, LPWSTR buffer) {
    return FakeTempPath2(size, buffer);
}

const ChildRegistration longTemp(L"temp-longer-than-the-buffer", [] {
    wchar_t dir[MAX_PATH * 2] = {};
    ::GetEnvironmentVariableW(L"TEMP_TEST_DIR", dir, MAX_PATH * 2);
    g_systemTemp = dir;
    g_os.GetTempPathW = LongTempPath;
    return UseTheTemporaryDirectory();
});

// With neither query answering, the Windows directory's Temp.
const ChildRegistration windowsTemp(L"temp-from-windows-directory", [] {
    g_os.GetTempPathW = NoTempPath;
    return UseTheTemporaryDirectory();
});

// SYSTEM where Windows has no GetTempPath2W, given the machine's Temp (the token's user through the
// seam; its profile is the real account's).
const ChildRegistration systemWithoutTempPath2(L"temp-as-system-without-get-temp-path-2", [] {
    PSID system = nullptr;
    if (!::ConvertStringSidToSidW(L"S-1-5-18", &system))
        return -2;
    const UniqueLocalMemory owned(system);
    ReportTokenUser(system);
    g_os.GetTempPathW = NoTempPath;
    return UseTheTemporaryDirectory();
});

// The directory as the environment names it: TMP set by the parent.
const ChildRegistration plainTemp(L"temp-from-get-temp-path",
                                  [] { return UseTheTemporaryDirectory(); });

// Resolved once: TMP changed after the first line moves nothing.
const ChildRegistration changedTemp(L"temp-changed-after-start", [] {
    CUtility::Log(L"[%s] first", L"Test::Temp");
    wchar_t other[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"TEMP_TEST_DIR", other, MAX_PATH);
    ::SetEnvironmentVariableW(L"TMP", other);
    ::SetEnvironmentVariableW(L"TEMP", other);
    return UseTheTemporaryDirectory();
});

// Wine makes no junctions: the seam says the directory is reached as another path, as a
// redirected profile's temporary directory is.
std::wstring g_reached;
DWORD WINAPI ReportReached(HANDLE, LPWSTR buffer, DWORD size, DWORD) {
    if (g_reached.size() >= size)
        return static_cast<DWORD>(g_reached.size() + 1);
    g_reached.copy(buffer, g_reached.size());
    buffer[g_reached.size()] = L'\0';
    return static_cast<DWORD>(g_reached.size());
}

const ChildRegistration redirectedTemp(L"temp-reached-elsewhere", [] {
    wchar_t reached[MAX_PATH * 2] = {};
    ::GetEnvironmentVariableW(L"TEMP_TEST_DIR", reached, MAX_PATH * 2);
    g_reached = std::wstring(L"\\\\?\\") + reached;
    g_os.GetFinalPathNameByHandleW = ReportReached;
    CUtility::Log(L"[%s] redirected", L"Test::Temp");
    Report(CUtility::GetLogFilePath());
    return 0;
});

// A lock another program holds on the directory, which Wine cannot grant: the seam answers its
// open as Windows does while the lock is broken, with a handle and
// STATUS_OPLOCK_BREAK_IN_PROGRESS. The options every open by path asked for are kept.
std::wstring g_lockedDirectory; // as TEMP_TEST_DIR names it, with its trailing backslash
std::vector<ULONG> g_byPathOptions;
LONG NTAPI DirectoryUnderALock(PHANDLE file, ACCESS_MASK access, PVOID attributes, PVOID status,
                               PLARGE_INTEGER allocation, ULONG fileAttributes, ULONG share,
                               ULONG disposition, ULONG options, PVOID extended, ULONG length) {
    const LONG result =
        RealSystemCalls().NtCreateFile(file, access, attributes, status, allocation, fileAttributes,
                                       share, disposition, options, extended, length);
    const auto* object = static_cast<OBJECT_ATTRIBUTES*>(attributes);
    if (object->RootDirectory != nullptr)
        return result;
    g_byPathOptions.push_back(options);
    std::wstring name(object->ObjectName->Buffer, object->ObjectName->Length / sizeof(wchar_t));
    if (name.empty() || name.back() != L'\\')
        name += L'\\';
    constexpr LONG kOplockBreakInProgress = 0x00000108;
    return result >= 0 &&
                   ::CompareStringOrdinal(name.c_str(), -1, (L"\\??\\" + g_lockedDirectory).c_str(),
                                          -1, TRUE) == CSTR_EQUAL
               ? kOplockBreakInProgress
               : result;
}

// TMP names TEMP_TEST_DIR. 0 when every open by path asked not to wait for a lock.
const ChildRegistration lockedTemp(L"temp-under-a-lock", [] {
    wchar_t dir[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"TEMP_TEST_DIR", dir, MAX_PATH);
    g_lockedDirectory = dir;
    g_os.NtCreateFile = DirectoryUnderALock;
    UseTheTemporaryDirectory();
    const bool none = g_byPathOptions.empty();
    for (const ULONG options : g_byPathOptions)
        if ((options & FILE_COMPLETE_IF_OPLOCKED) == 0)
            return 1;
    return none ? 2 : 0;
});

// Sets an environment variable for the children of one test, and the directories they use.
class TempDirectory : public testing::Test {
protected:
    const std::wstring base = TempDir() + L"temp-directory-test";
    const std::wstring other = base + L"\\other";

    void SetUp() override {
        SetForChildren(L"TEMP_TEST_REPORT", TempDir() + L"temp-directory-report.txt");
        RemoveTree(base);
        ASSERT_TRUE(::CreateDirectoryW(base.c_str(), nullptr));
        ASSERT_TRUE(::CreateDirectoryW(other.c_str(), nullptr));
        ::DeleteFileW(ReportPath().c_str());
        ::DeleteFileW(LogPath().c_str());
    }
    void TearDown() override {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            ::SetEnvironmentVariableW(it->first.c_str(),
                                      it->second.empty() ? nullptr : it->second.c_str());
        RemoveTree(base);
        ::DeleteFileW(ReportPath().c_str());
        ::DeleteFileW(LogPath().c_str());
    }

    void SetForChildren(const std::wstring& name, const std::wstring& value) {
        wchar_t old[MAX_PATH * 2] = {};
        ::GetEnvironmentVariableW(name.c_str(), old, MAX_PATH * 2);
        saved_.emplace_back(name, old);
        ::SetEnvironmentVariableW(name.c_str(), value.c_str());
    }

private:
    std::vector<std::pair<std::wstring, std::wstring>> saved_;
};

TEST_F(TempDirectory, GetTempPath2WhereWindowsHasItServesTheLogTheFolderAndTheOutput) {
    const std::wstring systemTemp = base + L"\\SystemTemp\\";
    ASSERT_TRUE(::CreateDirectoryW(systemTemp.c_str(), nullptr));
    SetForChildren(L"TEMP_TEST_DIR", systemTemp);
    ASSERT_EQ(SpawnChild(L"temp-from-get-temp-path-2"), 0);
    EXPECT_EQ(ReadReport(),
              Narrow(systemTemp + L"unpack.log\n" + MachineTempDir() + L"unpack\\\n1 owned"));
    EXPECT_TRUE(Exists(systemTemp + L"unpack.log"));
    EXPECT_TRUE(Exists(systemTemp + L"unpack.log.txt"));
    EXPECT_FALSE(Exists(LogPath())) << "the user's directory was used as well";
}

// The machine's Temp is where every user creates names, not the account's own: the folder is
// made there as always, but neither the log nor the script's output is written into it.
TEST_F(TempDirectory, WithoutAnyAnswerTheWindowsDirectorysTempServesTheFolderAlone) {
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    const std::wstring temp = std::wstring(windows) + L"\\Temp\\";
    ::DeleteFileW((temp + L"unpack.log").c_str());
    ASSERT_EQ(SpawnChild(L"temp-from-windows-directory"), 0);
    // Named as Windows reaches it, in the case the file system keeps.
    const std::string expected =
        Narrow(temp + L"unpack.log\n" + MachineTempDir() + L"unpack\\\n0 owned");
    EXPECT_EQ(::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, ReadReport().c_str(), -1,
                               expected.c_str(), -1),
              CSTR_EQUAL)
        << ReadReport();
    EXPECT_FALSE(Exists(temp + L"unpack.log"));
    EXPECT_FALSE(Exists(temp + L"unpack.log.txt"));
}

// SYSTEM is never left to log in the machine's Temp: the Temp of its own profile serves instead.
TEST_F(TempDirectory, SystemWithoutGetTempPath2LogsInItsProfilesTemp) {
    wchar_t profile[MAX_PATH] = {};
    ASSERT_NE(::GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH), 0u);
    const std::wstring profileTemp = std::wstring(profile) + L"\\AppData\\Local\\Temp\\";
    const bool made = ::CreateDirectoryW(profileTemp.c_str(), nullptr) != FALSE;
    ASSERT_EQ(SpawnChild(L"temp-as-system-without-get-temp-path-2"), 0);
    const std::string expected =
        Narrow(profileTemp + L"unpack.log\n" + MachineTempDir() + L"unpack\\\n1 owned");
    EXPECT_EQ(::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, ReadReport().c_str(), -1,
                               expected.c_str(), -1),
              CSTR_EQUAL)
        << ReadReport();
    EXPECT_TRUE(Exists(profileTemp + L"unpack.log"));
    ::DeleteFileW((profileTemp + L"unpack.log").c_str());
    ::DeleteFileW((profileTemp + L"unpack.log.txt").c_str());
    if (made)
        ::RemoveDirectoryW(profileTemp.c_str());
}

// Longer than the 260-character buffers, and given in 8.3 names: the folder's long name, whole.
TEST_F(TempDirectory, ALongOrShortNamedDirectoryIsTakenWholeAndInItsLongForm) {
    std::wstring longDir = base;
    while (longDir.size() < 300) {
        longDir += L"\\a folder with a long name";
        ASSERT_TRUE(::CreateDirectoryW(longDir.c_str(), nullptr)) << ::GetLastError();
    }
    SetForChildren(L"TEMP_TEST_DIR", longDir + L"\\");
    ASSERT_EQ(SpawnChild(L"temp-longer-than-the-buffer"), 0);
    // Wine reads no final path longer than MAX_PATH: a directory it cannot name is not known to
    // lie in the account's profile, and the output is then not written there.
    const UniqueFileHandle opened(
        ::CreateFileW(longDir.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    wchar_t final[1024] = {};
    const bool reachable = ::GetFinalPathNameByHandleW(opened.get(), final, 1024, 0) != 0;
    EXPECT_EQ(ReadReport(), Narrow(longDir + L"\\unpack.log\n" + MachineTempDir() + L"unpack\\\n" +
                                   (reachable ? L"1" : L"0") + L" owned"));

    wchar_t shortForm[MAX_PATH] = {};
    const std::wstring named = base + L"\\a folder with a long name";
    ASSERT_NE(::GetShortPathNameW(named.c_str(), shortForm, MAX_PATH), 0u) << ::GetLastError();
    if (named == shortForm)
        GTEST_SKIP() << "no short name for " << Narrow(named);
    SetForChildren(L"TMP", shortForm);
    SetForChildren(L"TEMP", shortForm);
    ASSERT_EQ(SpawnChild(L"temp-from-get-temp-path"), 0);
    EXPECT_EQ(ReadReport(),
              Narrow(named + L"\\unpack.log\n" + MachineTempDir() + L"unpack\\\n1 owned"));
}

TEST_F(TempDirectory, ADirectoryChangedAfterTheStartGetsNothing) {
    SetForChildren(L"TEMP_TEST_DIR", other);
    ASSERT_EQ(SpawnChild(L"temp-changed-after-start"), 0);
    EXPECT_EQ(ReadReport(), Narrow(LogPath() + L"\n" + MachineTempDir() + L"unpack\\\n1 owned"));
    EXPECT_FALSE(Exists(other + L"\\unpack.log"));
    const std::vector<std::wstring> messages = LogMessages();
    EXPECT_TRUE(Contains(messages, L"[Test::Temp] first"));
    EXPECT_TRUE(Contains(messages, L"[Test::Temp] here"));
    ::DeleteFileW((TempDir() + L"unpack.log.txt").c_str());
}

// Named as reached; past 259 characters in the \\?\ form, which the file functions take (Wine
// reads no final path that long: the seam gives it).
TEST_F(TempDirectory, ADirectoryReachedThroughALinkKeepsItsLog) {
    const std::wstring deep = other + L"\\" + std::wstring(260 - other.size(), L'x');
    for (const auto& [reached, named] :
         {std::make_pair(other, other), std::make_pair(deep, L"\\\\?\\" + deep)}) {
        SetForChildren(L"TEMP_TEST_DIR", reached);
        ::DeleteFileW(LogPath().c_str());
        ASSERT_EQ(SpawnChild(L"temp-reached-elsewhere"), 0);
        EXPECT_EQ(ReadReport(), Narrow(named + L"\\unpack.log"));
        EXPECT_TRUE(Contains(LogMessages(), L"[Test::Temp] redirected"))
            << "the line goes where the directory's handle leads";
    }
}

// A directory under another program's lock is not waited for: the run goes on as without one,
// writing neither its log nor the script's output there, and extracts as ever.
TEST_F(TempDirectory, ADirectoryUnderAnotherProgramsLockIsNotWaitedForAndGetsNothing) {
    SetForChildren(L"TEMP_TEST_DIR", other + L"\\");
    SetForChildren(L"TMP", other);
    SetForChildren(L"TEMP", other);
    ASSERT_EQ(SpawnChild(L"temp-under-a-lock"), 0) << "an open by path may wait for a lock";
    EXPECT_EQ(ReadReport(),
              Narrow(other + L"\\unpack.log\n" + MachineTempDir() + L"unpack\\\n0 owned"));
    EXPECT_FALSE(Exists(other + L"\\unpack.log"));
    EXPECT_FALSE(Exists(other + L"\\unpack.log.txt"));
}

} // namespace
