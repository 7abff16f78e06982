#include "RegistryTestSupport.h"
#include "TestSupport.h"
#include "TokenSeams.h"
#include "TokenTestSupport.h"

#include "util/ImpersonateUser.h"
#include "util/Utility.h"

#include <gtest/gtest.h>

namespace {

HANDLE g_handedOut = nullptr;

// Hands out an event as if it were the user's token: impersonating with it must fail.
BOOL WINAPI NotAToken(ULONG, PHANDLE token) {
    g_handedOut = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    *token = g_handedOut;
    return g_handedOut != nullptr;
}

std::wstring LoggedOnUserSid() {
    UniqueHandle token;
    if (!CUtility::GetLoggedOnUserToken(token))
        return std::wstring();
    return UserSidOf(token.get());
}

TEST(ImpersonateUser, ImpersonatesTheLoggedOnUserUntilDestroyed) {
    DWORD error = 0;
    ASSERT_FALSE(ThreadIsImpersonating(&error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_TOKEN));
    const std::wstring expected = LoggedOnUserSid();
    ASSERT_FALSE(expected.empty());

    {
        const CImpersonateUser user;
        EXPECT_TRUE(user.HasUserToken());
        EXPECT_TRUE(user.IsImpersonating());
        EXPECT_TRUE(ThreadIsImpersonating());
        EXPECT_EQ(ThreadUserSid(), expected);
    }

    error = 0;
    EXPECT_FALSE(ThreadIsImpersonating(&error)) << "not reverted";
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NO_TOKEN));
}

TEST(ImpersonateUser, ExplorerTokenServesWhenTheSessionHasNone) {
    SystemCallsScope scope;
    InstallFailingUserTokenQuery();
    {
        const CImpersonateUser user;
        EXPECT_TRUE(user.IsImpersonating());
        EXPECT_TRUE(ThreadIsImpersonating());
    }
    EXPECT_FALSE(ThreadIsImpersonating());
}

TEST(ImpersonateUser, WithoutATokenTheThreadStaysAsItWas) {
    SystemCallsScope scope;
    InstallNoLoggedOnUserToken();
    const CImpersonateUser user;
    EXPECT_FALSE(user.HasUserToken());
    EXPECT_FALSE(user.IsImpersonating());
    EXPECT_FALSE(ThreadIsImpersonating());
}

TEST(ImpersonateUser, RefusedImpersonationStillClosesTheToken) {
    SystemCallsScope scope;
    g_os.WTSQueryUserToken = NotAToken;
    g_handedOut = nullptr;
    {
        const CImpersonateUser user;
        ASSERT_NE(g_handedOut, nullptr);
        EXPECT_TRUE(user.HasUserToken());
        EXPECT_FALSE(user.IsImpersonating());
        EXPECT_FALSE(ThreadIsImpersonating());
        EXPECT_TRUE(HandleIsOpen(g_handedOut)) << "held while the object lives";
    }
    EXPECT_FALSE(HandleIsOpen(g_handedOut)) << "the refused token was not closed";
    EXPECT_FALSE(ThreadIsImpersonating());
}

} // namespace
