#include "TokenSeams.h"

#include "util/SystemCalls.h"

#include <cwchar>

UserTokenQueries g_userTokenQueries;

namespace {

BOOL WINAPI NoUserToken(ULONG, PHANDLE) {
    ::SetLastError(ERROR_NO_TOKEN);
    return FALSE;
}

BOOL WINAPI CountingUserTokenQuery(ULONG sessionId, PHANDLE token) {
    g_userTokenQueries.sessions.push_back(sessionId);
    return RealSystemCalls().WTSQueryUserToken(sessionId, token);
}

bool IsExplorer(const PROCESSENTRY32W* entry) {
    return _wcsicmp(entry->szExeFile, L"explorer.exe") == 0;
}

BOOL WINAPI NextSkippingExplorer(HANDLE snapshot, LPPROCESSENTRY32W entry) {
    BOOL more = ::Process32NextW(snapshot, entry);
    while (more && IsExplorer(entry))
        more = ::Process32NextW(snapshot, entry);
    return more;
}

BOOL WINAPI FirstSkippingExplorer(HANDLE snapshot, LPPROCESSENTRY32W entry) {
    BOOL more = ::Process32FirstW(snapshot, entry);
    if (more && IsExplorer(entry))
        more = NextSkippingExplorer(snapshot, entry);
    return more;
}

} // namespace

void InstallFailingUserTokenQuery() {
    g_os.WTSQueryUserToken = NoUserToken;
}

void InstallProcessListWithoutExplorer() {
    g_os.Process32FirstW = FirstSkippingExplorer;
    g_os.Process32NextW = NextSkippingExplorer;
}

void InstallNoLoggedOnUserToken() {
    InstallFailingUserTokenQuery();
    InstallProcessListWithoutExplorer();
}

void InstallCountingUserTokenQuery() {
    g_userTokenQueries.sessions.clear();
    g_os.WTSQueryUserToken = CountingUserTokenQuery;
}
