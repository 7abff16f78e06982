#include "TestSupport.h"
#include "TokenSeams.h"
#include "TokenTestSupport.h"

#include "util/Utility.h"

#include <gtest/gtest.h>

namespace {

DWORD FirstExplorer() {
    std::vector<DWORD> ids;
    if (!CUtility::FindProcessesByName(L"explorer.exe", ids) || ids.empty())
        return 0;
    return ids.front();
}

// --- OpenProcess as the token code calls it -----------------------------------------------------

struct OpenProcessCall {
    DWORD access;
    BOOL inherit;
    DWORD processId;
    HANDLE result;
    DWORD handleFlags;
};
std::vector<OpenProcessCall> g_openProcessCalls;

HANDLE WINAPI RecordingOpenProcess(DWORD access, BOOL inherit, DWORD processId) {
    HANDLE process = ::OpenProcess(access, inherit, processId);
    DWORD flags = 0xDEADBEEF;
    if (process != nullptr)
        ::GetHandleInformation(process, &flags);
    g_openProcessCalls.push_back({access, inherit, processId, process, flags});
    return process;
}

HANDLE WINAPI RefusingOpenProcess(DWORD access, BOOL inherit, DWORD processId) {
    g_openProcessCalls.push_back({access, inherit, processId, nullptr, 0});
    ::SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
}

BOOL WINAPI FailingSessionQuery(DWORD, DWORD*) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

class UserToken : public testing::Test {
protected:
    SystemCallsScope scope;
    UniqueHandle token;

    void SetUp() override {
        g_openProcessCalls.clear();
        g_os.OpenProcess = RecordingOpenProcess;
        InstallCountingUserTokenQuery();
    }
};

// --- The session's token, for real --------------------------------------------------------------

TEST_F(UserToken, SessionTokenComesFromTerminalServicesWithoutOpeningAProcess) {
    ASSERT_EQ(CUtility::GetLoggedOnUserToken(token), 1) << "error " << ::GetLastError();
    ASSERT_TRUE(token);
    EXPECT_EQ(TokenTypeOf(token.get()), TokenPrimary);
    EXPECT_FALSE(UserSidOf(token.get()).empty());
    ASSERT_EQ(g_userTokenQueries.sessions.size(), 1u);
    EXPECT_EQ(g_userTokenQueries.sessions[0], OwnSession()) << "the wildcard means our session";
    EXPECT_TRUE(g_openProcessCalls.empty()) << g_openProcessCalls.size() << " processes opened";
}

TEST_F(UserToken, GivenSessionIsAskedAsItIs) {
    ASSERT_EQ(CUtility::GetLoggedOnUserToken(token, OwnSession()), 1);
    ASSERT_EQ(g_userTokenQueries.sessions.size(), 1u);
    EXPECT_EQ(g_userTokenQueries.sessions[0], OwnSession());
}

TEST_F(UserToken, UnreadableOwnSessionStaysTheWildcard) {
    g_os.ProcessIdToSessionId = FailingSessionQuery;
    (void)CUtility::GetLoggedOnUserToken(token);
    ASSERT_FALSE(g_userTokenQueries.sessions.empty());
    EXPECT_EQ(g_userTokenQueries.sessions[0], CUtility::kAnySession);
}

// --- The explorer.exe fallback ------------------------------------------------------------------

TEST_F(UserToken, WithoutSessionTokenTheFirstExplorerTokenIsDuplicated) {
    InstallFailingUserTokenQuery();
    const DWORD explorer = FirstExplorer();
    ASSERT_NE(explorer, 0u) << "no explorer.exe in the prefix";

    ASSERT_EQ(CUtility::GetLoggedOnUserToken(token), 1) << "error " << ::GetLastError();
    ASSERT_EQ(g_openProcessCalls.size(), 1u);
    const OpenProcessCall& call = g_openProcessCalls[0];
    EXPECT_FALSE(HandleIsOpen(call.result)) << "explorer.exe's process handle was left open";
    EXPECT_EQ(call.processId, explorer);
    EXPECT_EQ(call.access, static_cast<DWORD>(PROCESS_ALL_ACCESS));
    EXPECT_EQ(call.inherit, TRUE);
    EXPECT_NE(call.handleFlags & HANDLE_FLAG_INHERIT, 0u) << "flags " << call.handleFlags;

    ASSERT_TRUE(token);
    EXPECT_EQ(TokenTypeOf(token.get()), TokenPrimary);
    EXPECT_EQ(UserSidOf(token.get()), ProcessUserSid(explorer));
}

TEST_F(UserToken, DuplicateExplorerTokenOnItsOwn) {
    ASSERT_EQ(CUtility::DuplicateExplorerToken(token), 1) << "error " << ::GetLastError();
    ASSERT_TRUE(token);
    EXPECT_EQ(TokenTypeOf(token.get()), TokenPrimary);
    EXPECT_TRUE(g_userTokenQueries.sessions.empty()) << "terminal services are not asked";
    ASSERT_EQ(g_openProcessCalls.size(), 1u);
    EXPECT_FALSE(HandleIsOpen(g_openProcessCalls[0].result));
}

TEST_F(UserToken, ExplorerThatCannotBeOpenedGivesNoToken) {
    InstallFailingUserTokenQuery();
    g_os.OpenProcess = RefusingOpenProcess;
    EXPECT_EQ(CUtility::GetLoggedOnUserToken(token), 0);
    EXPECT_FALSE(token);
    ASSERT_EQ(g_openProcessCalls.size(), 1u);
    EXPECT_EQ(g_openProcessCalls[0].processId, FirstExplorer());
}

TEST_F(UserToken, NoExplorerRunningGivesNoTokenAndOpensNothing) {
    InstallNoLoggedOnUserToken();
    EXPECT_EQ(CUtility::GetLoggedOnUserToken(token), 0);
    EXPECT_FALSE(token);
    EXPECT_TRUE(g_openProcessCalls.empty());
    EXPECT_EQ(CUtility::DuplicateExplorerToken(token), 0);
    EXPECT_FALSE(token);
}

TEST_F(UserToken, FailureReleasesATokenTheCallerStillHeld) {
    InstallNoLoggedOnUserToken();
    HANDLE old = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(old, nullptr);
    token.reset(old);
    EXPECT_EQ(CUtility::GetLoggedOnUserToken(token), 0);
    EXPECT_FALSE(token);
    EXPECT_FALSE(HandleIsOpen(old));
}

} // namespace
