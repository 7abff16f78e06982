#include "util/SystemCalls.h"

#include "framework/UniqueHandle.h"

#include <string>

namespace {

// wtsapi32 is loaded by its full path in the system directory, never through the search path: the
// stub runs elevated from wherever it was downloaded to, and a wtsapi32.dll lying next to it must
// not be picked up. The library stays loaded for the rest of the process.
struct WtsApi {
    UniqueModule library;
    WtsQueryUserTokenFunction queryUserToken = nullptr;

    WtsApi() noexcept {
        wchar_t system[MAX_PATH + 1] = {};
        const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return;
        try {
            const std::wstring path = std::wstring(system, length) + L"\\wtsapi32.dll";
            library.reset(::LoadLibraryW(path.c_str()));
        } catch (...) {
            return;
        }
        if (library)
            queryUserToken = reinterpret_cast<WtsQueryUserTokenFunction>(
                reinterpret_cast<void*>(::GetProcAddress(library.get(), "WTSQueryUserToken")));
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
    calls.SHCreateDirectoryExW = ::SHCreateDirectoryExW;
    calls.Sleep = ::Sleep;
    calls.FindFirstFileW = ::FindFirstFileW;
    calls.FindNextFileW = ::FindNextFileW;
    calls.GetFileAttributesW = ::GetFileAttributesW;
    calls.DeviceIoControl = ::DeviceIoControl;
    calls.GetDiskFreeSpaceExW = ::GetDiskFreeSpaceExW;
    calls.SHGetFolderPathW = ::SHGetFolderPathW;
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

SystemCalls g_os = RealSystemCalls();
