#include "util/SystemCalls.h"

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
    return calls;
}

SystemCalls g_os = RealSystemCalls();
