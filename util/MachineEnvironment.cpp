#include "util/MachineEnvironment.h"

#include "framework/UniqueHandle.h"
#include "util/ProcessUser.h"
#include "util/SystemLibrary.h"

#include <memory>
#include <vector>

namespace {

using CreateEnvironmentBlockFunction = BOOL(WINAPI*)(LPVOID* environment, HANDLE token,
                                                     BOOL inherit);
using DestroyEnvironmentBlockFunction = BOOL(WINAPI*)(LPVOID environment);
using GetUserProfileDirectoryFunction = BOOL(WINAPI*)(HANDLE token, LPWSTR directory, LPDWORD size);

// userenv is bound on first use, from the system directory only.
struct UserEnv {
    HMODULE library = LoadSystemLibrary(L"userenv.dll");
    CreateEnvironmentBlockFunction createBlock =
        SystemLibraryExport<CreateEnvironmentBlockFunction>(library, "CreateEnvironmentBlock");
    DestroyEnvironmentBlockFunction destroyBlock =
        SystemLibraryExport<DestroyEnvironmentBlockFunction>(library, "DestroyEnvironmentBlock");
    GetUserProfileDirectoryFunction profileDirectory =
        SystemLibraryExport<GetUserProfileDirectoryFunction>(library, "GetUserProfileDirectoryW");
};

const UserEnv& TheUserEnv() {
    static const UserEnv userEnv;
    return userEnv;
}

// Without a token the block holds the system's variables only; the user's HKCU\Environment,
// which the user's unelevated programs write, is not read.
bool SystemVariables(Environment& environment) {
    const UserEnv& userEnv = TheUserEnv();
    LPVOID block = nullptr;
    if (userEnv.createBlock == nullptr || userEnv.destroyBlock == nullptr ||
        !userEnv.createBlock(&block, nullptr, FALSE))
        return false;
    // Given back however the parsing ends.
    const std::unique_ptr<void, DestroyEnvironmentBlockFunction> owned(block, userEnv.destroyBlock);
    environment = ParseEnvironmentBlock(static_cast<const wchar_t*>(block));
    return true;
}

// The account the process runs as, and its profile folder as the machine records it (the
// profile list under HKEY_LOCAL_MACHINE). What cannot be had stays as the system block has it.
void AddProcessAccount(Environment& environment) {
    ProcessUser user;
    if (!ReadProcessUser(user))
        return;
    wchar_t name[256] = {};
    wchar_t domain[256] = {};
    DWORD nameLength = 256;
    DWORD domainLength = 256;
    SID_NAME_USE use;
    if (::LookupAccountSidW(nullptr, user.Sid(), name, &nameLength, domain, &domainLength, &use)) {
        SetVariable(environment, L"USERNAME", name);
        SetVariable(environment, L"USERDOMAIN", domain);
    }

    const std::wstring profile = ProfileFolderOf(user.token.get());
    if (!profile.empty())
        SetVariable(environment, L"USERPROFILE", profile);
}

} // namespace

std::wstring ProfileFolderOf(HANDLE token) {
    const GetUserProfileDirectoryFunction profileDirectory = TheUserEnv().profileDirectory;
    DWORD length = 0;
    if (profileDirectory == nullptr || profileDirectory(token, nullptr, &length) ||
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER || length == 0)
        return std::wstring();
    std::vector<wchar_t> profile(length + 1);
    return profileDirectory(token, profile.data(), &length) ? std::wstring(profile.data())
                                                            : std::wstring();
}

bool MachineEnvironment(Environment& environment) {
    if (!SystemVariables(environment))
        return false;
    AddProcessAccount(environment);
    RemoveVariable(environment, L"NoDefaultCurrentDirectoryInExePath");
    return true;
}
