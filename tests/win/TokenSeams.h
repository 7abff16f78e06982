// Stand-ins for the user-token calls of g_os, for what Wine cannot be made to do: a session that
// has no user token, a system without explorer.exe. Install them inside a SystemCallsScope.
#pragma once

#include <windows.h>

#include <vector>

// Terminal services give no token for any session, and explorer.exe is absent from the process
// list (every other process is still listed).
void InstallNoLoggedOnUserToken();
void InstallFailingUserTokenQuery();
void InstallProcessListWithoutExplorer();

// Records every WTSQueryUserToken call and passes it on to the real one.
struct UserTokenQueries {
    std::vector<ULONG> sessions;
};
extern UserTokenQueries g_userTokenQueries;
void InstallCountingUserTokenQuery();
