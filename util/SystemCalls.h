// The few system calls whose failures the program must handle but that cannot be made to fail for
// real in a test (a directory that never gets created, a reparse point Wine cannot make). Code
// calls them through g_os; tests swap entries and restore the table afterwards. Every other system
// call is made directly.
#pragma once

#include <windows.h>
#include <shlobj.h>

struct SystemCalls {
    // Creating the extraction folder, and the pause between attempts.
    decltype(&::SHCreateDirectoryExW) SHCreateDirectoryExW;
    decltype(&::Sleep) Sleep;

    // How the deletion walk sees the folder: its entries, their attributes and reparse data.
    decltype(&::FindFirstFileW) FindFirstFileW;
    decltype(&::FindNextFileW) FindNextFileW;
    decltype(&::GetFileAttributesW) GetFileAttributesW;
    decltype(&::DeviceIoControl) DeviceIoControl;

    // Free space on the volume an entry is written to, and the Program Files fallback.
    decltype(&::GetDiskFreeSpaceExW) GetDiskFreeSpaceExW;
    decltype(&::SHGetFolderPathW) SHGetFolderPathW;

    // The version queries: RtlGetVersion is looked up at run time, GetVersionExW answers when it
    // is missing or fails.
    decltype(&::GetProcAddress) GetProcAddress;
    decltype(&::GetVersionExW) GetVersionExW;
};

SystemCalls RealSystemCalls() noexcept;

extern SystemCalls g_os;
