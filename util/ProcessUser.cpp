#include "util/ProcessUser.h"

#include "util/SystemCalls.h"

#include <sddl.h>

bool ReadProcessUser(ProcessUser& user) noexcept {
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, user.token.put()))
        return false;
    DWORD size = 0;
    return g_os.GetTokenInformation(user.token.get(), TokenUser, &user.info, sizeof user.info,
                                    &size) != FALSE;
}

std::wstring SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (sid == nullptr || !::ConvertSidToStringSidW(sid, &text))
        return std::wstring();
    const UniqueLocalMemory owned(text);
    return text;
}

bool ProcessIsAdministrator() noexcept {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    UniqueSid administrators;
    if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                    0, 0, 0, 0, 0, administrators.put()))
        return false;
    BOOL member = FALSE;
    if (!g_os.CheckTokenMembership(nullptr, administrators.get(), &member))
        member = FALSE;
    return member != FALSE;
}

bool ProcessIsSystem() noexcept {
    ProcessUser user;
    return ReadProcessUser(user) && ::IsWellKnownSid(user.Sid(), WinLocalSystemSid);
}
