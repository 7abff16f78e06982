#include "TestSupport.h"
#include "TokenSeams.h"
#include "TokenTestSupport.h"

#include "util/Utility.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

bool Contains(const std::vector<DWORD>& ids, DWORD id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

std::wstring FileName(const std::wstring& path) {
    return path.substr(path.rfind(L'\\') + 1);
}

const ChildRegistration kSleeper(L"sleep", [] {
    ::Sleep(60000);
    return 0;
});

// A copy of this test binary started under another name, ended when the test ends.
class RenamedChild {
public:
    explicit RenamedChild(const std::wstring& fileName)
        : folder_(TempDir() + L"processes-test"), path_(folder_ + L"\\" + fileName) {
        RemoveTree(folder_);
        ::CreateDirectoryW(folder_.c_str(), nullptr);
        if (::CopyFileW(ThisExecutable().c_str(), path_.c_str(), FALSE))
            process_ = StartChildFrom(path_, L"sleep");
        ::Sleep(200); // let the child show up in the process list
    }
    ~RenamedChild() {
        if (process_) {
            ::TerminateProcess(process_.get(), 0);
            ::WaitForSingleObject(process_.get(), 10000);
        }
        process_.reset();
        RemoveTree(folder_);
    }
    DWORD Id() const { return process_ ? ::GetProcessId(process_.get()) : 0; }

private:
    std::wstring folder_;
    std::wstring path_;
    UniqueHandle process_;
};

// --- The real process list ----------------------------------------------------------------------

TEST(FindProcessesByName, FindsExplorerInAnyAsciiCase) {
    std::vector<DWORD> lower, upper, mixed;
    ASSERT_EQ(CUtility::FindProcessesByName(L"explorer.exe", lower), 1);
    ASSERT_FALSE(lower.empty()) << "no explorer.exe in the prefix: was it booted?";
    ASSERT_EQ(CUtility::FindProcessesByName(L"EXPLORER.EXE", upper), 1);
    ASSERT_EQ(CUtility::FindProcessesByName(L"Explorer.Exe", mixed), 1);
    EXPECT_EQ(upper, lower);
    EXPECT_EQ(mixed, lower);
}

TEST(FindProcessesByName, WholeNameMustMatch) {
    std::vector<DWORD> ids = {0xDEADBEEF};
    EXPECT_EQ(CUtility::FindProcessesByName(L"explorer", ids), 1);
    EXPECT_TRUE(ids.empty()) << ids.size() << " found";
    EXPECT_EQ(CUtility::FindProcessesByName(L"xplorer.exe", ids), 1);
    EXPECT_TRUE(ids.empty()) << ids.size() << " found";
}

TEST(FindProcessesByName, SessionFilterKeepsThatSessionOnly) {
    const std::wstring self = FileName(ThisExecutable());
    const DWORD own = ::GetCurrentProcessId();
    std::vector<DWORD> ids;

    ASSERT_EQ(CUtility::FindProcessesByName(self, ids, CUtility::kAnySession), 1);
    EXPECT_TRUE(Contains(ids, own));
    ASSERT_EQ(CUtility::FindProcessesByName(self, ids, OwnSession()), 1);
    EXPECT_TRUE(Contains(ids, own)) << "session " << OwnSession();
    ASSERT_EQ(CUtility::FindProcessesByName(self, ids, OwnSession() + 1), 1);
    EXPECT_FALSE(Contains(ids, own));
    EXPECT_TRUE(ids.empty()) << ids.size() << " found in session " << OwnSession() + 1;
}

TEST(FindProcessesByName, NonAsciiLetterCaseIsNotIgnored) {
    const RenamedChild child(L"proc-\u00e4.exe"); // a with diaeresis, lower case
    ASSERT_NE(child.Id(), 0u) << "could not start the renamed copy";

    std::vector<DWORD> ids;
    ASSERT_EQ(CUtility::FindProcessesByName(L"PROC-\u00e4.EXE", ids), 1);
    EXPECT_TRUE(Contains(ids, child.Id())) << "ASCII case must not matter";
    ASSERT_EQ(CUtility::FindProcessesByName(L"proc-\u00c4.exe", ids), 1);
    EXPECT_FALSE(Contains(ids, child.Id())) << "the case of a non-ASCII letter must matter";
}

// --- Failures that Wine cannot produce ----------------------------------------------------------

HANDLE WINAPI NoSnapshot(DWORD, DWORD) {
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return INVALID_HANDLE_VALUE;
}

BOOL WINAPI NoFirstEntry(HANDLE, LPPROCESSENTRY32W) {
    ::SetLastError(ERROR_NO_MORE_FILES);
    return FALSE;
}

int g_sessionQueries = 0;
BOOL WINAPI CountingSessionQuery(DWORD processId, DWORD* session) {
    ++g_sessionQueries;
    return ::ProcessIdToSessionId(processId, session);
}

BOOL WINAPI UnreadableSession(DWORD, DWORD*) {
    ++g_sessionQueries;
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

TEST(FindProcessesByNameFaults, NoSnapshotGivesZeroAndAnEmptyList) {
    SystemCallsScope scope;
    g_os.CreateToolhelp32Snapshot = NoSnapshot;
    std::vector<DWORD> ids = {0xDEADBEEF, 0xDEADBEEF};
    EXPECT_EQ(CUtility::FindProcessesByName(L"explorer.exe", ids), 0);
    EXPECT_TRUE(ids.empty()) << ids.size() << " ids left";
}

TEST(FindProcessesByNameFaults, SnapshotWithoutEntriesGivesOneAndAnEmptyList) {
    SystemCallsScope scope;
    g_os.Process32FirstW = NoFirstEntry;
    std::vector<DWORD> ids = {0xDEADBEEF};
    EXPECT_EQ(CUtility::FindProcessesByName(L"explorer.exe", ids), 1);
    EXPECT_TRUE(ids.empty()) << ids.size() << " ids left";
}

TEST(FindProcessesByNameFaults, EverySessionNeverAsksForOne) {
    SystemCallsScope scope;
    g_os.ProcessIdToSessionId = CountingSessionQuery;
    g_sessionQueries = 0;
    std::vector<DWORD> ids;
    ASSERT_EQ(CUtility::FindProcessesByName(L"explorer.exe", ids, CUtility::kAnySession), 1);
    EXPECT_FALSE(ids.empty());
    EXPECT_EQ(g_sessionQueries, 0);

    ASSERT_EQ(CUtility::FindProcessesByName(L"explorer.exe", ids, OwnSession()), 1);
    EXPECT_EQ(g_sessionQueries, static_cast<int>(ids.size()))
        << "one session query per explorer.exe";
}

TEST(FindProcessesByNameFaults, ProcessWhoseSessionCannotBeReadIsLeftOut) {
    SystemCallsScope scope;
    g_os.ProcessIdToSessionId = UnreadableSession;
    g_sessionQueries = 0;
    const std::wstring self = FileName(ThisExecutable());
    std::vector<DWORD> ids;
    ASSERT_EQ(CUtility::FindProcessesByName(self, ids, OwnSession()), 1);
    EXPECT_GE(g_sessionQueries, 1);
    EXPECT_TRUE(ids.empty()) << ids.size() << " found";
    ASSERT_EQ(CUtility::FindProcessesByName(self, ids, CUtility::kAnySession), 1);
    EXPECT_TRUE(Contains(ids, ::GetCurrentProcessId()));
}

} // namespace
