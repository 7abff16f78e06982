#include "util/SystemCalls.h"

#include "framework/UniqueHandle.h"

#include <string>

namespace {

// wtsapi32 comes from the system directory only, never through the search path: the stub runs
// elevated from wherever it was downloaded to, and a wtsapi32.dll lying next to it must not be
// picked up. Where Windows can restrict the search to the system directory, it is asked to;
// elsewhere the library is loaded by its full path there. It stays loaded for the rest of the
// process.
struct WtsApi {
    UniqueModule library;
    WtsQueryUserTokenFunction queryUserToken = nullptr;

    WtsApi() noexcept {
        if (FindSetDefaultDllDirectories() != nullptr)
            library.reset(
                g_os.LoadLibraryExW(L"wtsapi32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
        else
            library.reset(LoadFromSystemDirectory(L"wtsapi32.dll"));
        if (library)
            queryUserToken = reinterpret_cast<WtsQueryUserTokenFunction>(
                reinterpret_cast<void*>(g_os.GetProcAddress(library.get(), "WTSQueryUserToken")));
    }

    static HMODULE LoadFromSystemDirectory(const wchar_t* name) noexcept {
        wchar_t system[MAX_PATH + 1] = {};
        const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return nullptr;
        try {
            return g_os.LoadLibraryW((std::wstring(system, length) + L"\\" + name).c_str());
        } catch (...) {
            return nullptr;
        }
    }
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
    calls.GetFileAttributesW = ::GetFileAttributesW;
    calls.DeviceIoControl = ::DeviceIoControl;
    calls.GetFileInformationByHandleEx = ::GetFileInformationByHandleEx;
    calls.GetFinalPathNameByHandleW = ::GetFinalPathNameByHandleW;
    calls.ReadFile = ::ReadFile;
    calls.GetDiskFreeSpaceExW = ::GetDiskFreeSpaceExW;
    calls.SHGetFolderPathW = ::SHGetFolderPathW;
    calls.GetUserObjectInformationW = ::GetUserObjectInformationW;
    calls.SystemTimeToTzSpecificLocalTime = ::SystemTimeToTzSpecificLocalTime;
    calls.CreateProcessW = ::CreateProcessW;
    calls.WaitForSingleObject = ::WaitForSingleObject;
    calls.GetExitCodeProcess = ::GetExitCodeProcess;
    calls.SetDllDirectoryW = ::SetDllDirectoryW;
    calls.LoadLibraryW = ::LoadLibraryW;
    calls.LoadLibraryExW = ::LoadLibraryExW;
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
