#include "util/ProcessUser.h"

#include <sddl.h>

bool ReadProcessUser(ProcessUser& user) noexcept {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw))
        return false;
    user.token.reset(raw);
    DWORD size = 0;
    return ::GetTokenInformation(raw, TokenUser, &user.info, sizeof user.info, &size) != FALSE;
}

std::wstring SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (sid == nullptr || !::ConvertSidToStringSidW(sid, &text))
        return std::wstring();
    const UniqueLocalMemory owned(text);
    return text;
}
