#include "TokenTestSupport.h"

#include "framework/UniqueHandle.h"

#include <sddl.h>

#include <vector>

int TokenTypeOf(HANDLE token) {
    TOKEN_TYPE type = static_cast<TOKEN_TYPE>(0);
    DWORD size = 0;
    if (!::GetTokenInformation(token, TokenType, &type, sizeof type, &size))
        return 0;
    return static_cast<int>(type);
}

std::wstring UserSidOf(HANDLE token) {
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    if (size == 0)
        return std::wstring();
    std::vector<BYTE> buffer(size);
    if (!::GetTokenInformation(token, TokenUser, buffer.data(), size, &size))
        return std::wstring();
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text))
        return std::wstring();
    std::wstring sid = text;
    ::LocalFree(text);
    return sid;
}

std::wstring ProcessUserSid(DWORD processId) {
    const UniqueHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, processId));
    HANDLE opened = nullptr;
    if (!process || !::OpenProcessToken(process.get(), TOKEN_QUERY, &opened))
        return std::wstring();
    const UniqueHandle token(opened);
    return UserSidOf(token.get());
}

std::wstring ThreadUserSid() {
    HANDLE opened = nullptr;
    if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &opened))
        return std::wstring();
    const UniqueHandle token(opened);
    return UserSidOf(token.get());
}

bool HandleIsOpen(HANDLE handle) {
    DWORD flags = 0;
    return ::GetHandleInformation(handle, &flags) != FALSE;
}

DWORD OwnSession() {
    DWORD session = 0xDEADBEEF;
    ::ProcessIdToSessionId(::GetCurrentProcessId(), &session);
    return session;
}
