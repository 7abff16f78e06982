#include "util/SystemCalls.h"

#include "util/SystemLibrary.h"

#include <string>

namespace {

// wtsapi32 is bound on the first query, from the system directory only.
struct WtsApi {
    WtsQueryUserTokenFunction queryUserToken = SystemLibraryExport<WtsQueryUserTokenFunction>(
        LoadSystemLibrary(L"wtsapi32.dll"), "WTSQueryUserToken");
};

BOOL WINAPI BindAndQueryUserToken(ULONG sessionId, PHANDLE token) {
    static const WtsApi api; // bound once, on the first call
    if (api.queryUserToken == nullptr) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return FALSE;
    }
    return api.queryUserToken(sessionId, token);
}

} // namespace

SystemCalls RealSystemCalls() noexcept {
    SystemCalls calls{};
    calls.GetTempPathW = ::GetTempPathW;
    calls.NtCreateFile = reinterpret_cast<NtCreateFileFunction>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtCreateFile")));
    calls.Sleep = ::Sleep;
    calls.DeviceIoControl = ::DeviceIoControl;
    calls.GetFileInformationByHandleEx = ::GetFileInformationByHandleEx;
    calls.GetFinalPathNameByHandleW = ::GetFinalPathNameByHandleW;
    calls.ReadFile = ::ReadFile;
    calls.NtQueryVolumeInformationFile =
        reinterpret_cast<NtQueryVolumeInformationFileFunction>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryVolumeInformationFile")));
    calls.GetUserObjectInformationW = ::GetUserObjectInformationW;
    calls.SystemTimeToTzSpecificLocalTime = ::SystemTimeToTzSpecificLocalTime;
    calls.CreateProcessW = ::CreateProcessW;
    calls.WaitForSingleObject = ::WaitForSingleObject;
    calls.GetExitCodeProcess = ::GetExitCodeProcess;
    calls.AssignProcessToJobObject = ::AssignProcessToJobObject;
    calls.GetQueuedCompletionStatus = ::GetQueuedCompletionStatus;
    calls.CheckTokenMembership = ::CheckTokenMembership;
    calls.GetTokenInformation = ::GetTokenInformation;
    calls.GetSecurityInfo = ::GetSecurityInfo;
    calls.CreateFileW = ::CreateFileW;
    calls.MoveFileExW = ::MoveFileExW;
    calls.LoadLibraryW = ::LoadLibraryW;
    calls.GetProcAddress = ::GetProcAddress;
    calls.GetVersionExW = ::GetVersionExW;
    calls.WTSQueryUserToken = BindAndQueryUserToken;
    calls.ProcessIdToSessionId = ::ProcessIdToSessionId;
    calls.CreateToolhelp32Snapshot = ::CreateToolhelp32Snapshot;
    calls.Process32FirstW = ::Process32FirstW;
    calls.Process32NextW = ::Process32NextW;
    calls.OpenProcess = ::OpenProcess;
    return calls;
}

// Filled before any other object with static storage is constructed: the application object's
// constructor already loads libraries through it.
SystemCalls g_os __attribute__((init_priority(101))) = RealSystemCalls();

SetDefaultDllDirectoriesFunction FindSetDefaultDllDirectories() noexcept {
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel32 == nullptr)
        return nullptr;
    return reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(g_os.GetProcAddress(kernel32, "SetDefaultDllDirectories")));
}

bool SystemDirectoryPath(const wchar_t* name, const wchar_t* extension,
                         wchar_t (&path)[MAX_PATH + 1]) noexcept {
    UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    path[length++] = L'\\';
    for (const wchar_t* part : {name, extension})
        for (; *part != L'\0'; ++part) {
            if (length >= MAX_PATH)
                return false;
            path[length++] = *part;
        }
    path[length] = L'\0';
    return true;
}

HMODULE LoadSystemLibrary(const wchar_t* name) noexcept {
    if (FindSetDefaultDllDirectories() != nullptr)
        return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    wchar_t path[MAX_PATH + 1];
    return SystemDirectoryPath(name, L"", path) ? g_os.LoadLibraryW(path) : nullptr;
}
