#include "util/Utility.h"

#include "util/SystemCalls.h"

namespace {

constexpr wchar_t kExplorer[] = L"explorer.exe";

} // namespace

int CUtility::GetLoggedOnUserToken(UniqueHandle& token, DWORD sessionId) {
    token.reset();
    // When the session cannot be read the id stays the wildcard, which terminal services refuse,
    // and explorer.exe is asked instead.
    if (sessionId == kAnySession)
        g_os.ProcessIdToSessionId(::GetCurrentProcessId(), &sessionId);

    if (g_os.WTSQueryUserToken(sessionId, token.put()))
        return 1;
    return DuplicateExplorerToken(token);
}

int CUtility::DuplicateExplorerToken(UniqueHandle& token) {
    token.reset();
    std::vector<DWORD> explorers;
    if (!FindProcessesByName(kExplorer, explorers, kAnySession) || explorers.empty())
        return 0;

    // The first explorer.exe in the list, whichever session and user it belongs to.
    const UniqueHandle process(g_os.OpenProcess(PROCESS_ALL_ACCESS, TRUE, explorers.front()));
    if (!process)
        return 0;

    UniqueHandle processToken;
    if (!::OpenProcessToken(process.get(), TOKEN_ALL_ACCESS, processToken.put()))
        return 0;

    return ::DuplicateTokenEx(processToken.get(), MAXIMUM_ALLOWED, nullptr, SecurityIdentification,
                              TokenPrimary, token.put())
               ? 1
               : 0;
}
