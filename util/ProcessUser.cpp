#include "util/ProcessUser.h"

#include "util/SystemCalls.h"

#include <sddl.h>

bool ReadProcessUser(ProcessUser& user) noexcept {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw))
        return false;
    user.token.reset(raw);
    DWORD size = 0;
    return g_os.GetTokenInformation(raw, TokenUser, &user.info, sizeof user.info, &size) != FALSE;
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
    PSID administrators = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                    0, 0, 0, 0, 0, &administrators))
        return false;
    BOOL member = FALSE;
    if (!g_os.CheckTokenMembership(nullptr, administrators, &member))
        member = FALSE;
    ::FreeSid(administrators);
    return member != FALSE;
}

bool ProcessIsSystem() noexcept {
    ProcessUser user;
    return ReadProcessUser(user) && ::IsWellKnownSid(user.Sid(), WinLocalSystemSid);
}
