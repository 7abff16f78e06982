// The few system calls whose failures the program must handle but that cannot be made to fail for
// real in a test (a directory that never gets created, a reparse point Wine cannot make, a file
// reached through a link Wine cannot make, a session without a user token, a system without
// explorer.exe). Code calls them through g_os; tests swap entries and restore the table
// afterwards. Every other system call is made directly.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

// kernel32's SetDefaultDllDirectories, missing on Windows 7 without update KB2533623.
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD directoryFlags);

// wtsapi32's WTSQueryUserToken. The program does not import wtsapi32: the real entry is bound on
// its first call, from the system directory.
using WtsQueryUserTokenFunction = BOOL(WINAPI*)(ULONG sessionId, PHANDLE token);

struct SystemCalls {
    // Creating the extraction folder, and the pause between attempts.
    decltype(&::SHCreateDirectoryExW) SHCreateDirectoryExW;
    decltype(&::Sleep) Sleep;

    // How the deletion walk sees the folder: its entries, their attributes and reparse data.
    decltype(&::FindFirstFileW) FindFirstFileW;
    decltype(&::FindNextFileW) FindNextFileW;
    decltype(&::GetFileAttributesW) GetFileAttributesW;
    decltype(&::DeviceIoControl) DeviceIoControl;

    // What the log file opened really is: its attributes and link count, and where it lies.
    decltype(&::GetFileInformationByHandleEx) GetFileInformationByHandleEx;
    decltype(&::GetFinalPathNameByHandleW) GetFinalPathNameByHandleW;

    // Reading a file through CFile: the package is the file that must be read without fail.
    decltype(&::ReadFile) ReadFile;

    // Free space on the volume an entry is written to, and the Program Files fallback.
    decltype(&::GetDiskFreeSpaceExW) GetDiskFreeSpaceExW;
    decltype(&::SHGetFolderPathW) SHGetFolderPathW;

    // The log clock's conversion to local time; a failed one leaves the line without a time.
    decltype(&::SystemTimeToTzSpecificLocalTime) SystemTimeToTzSpecificLocalTime;

    // Waiting for the installer, and its exit code when the wait itself fails.
    decltype(&::WaitForSingleObject) WaitForSingleObject;
    decltype(&::GetExitCodeProcess) GetExitCodeProcess;

    // Library loading at start-up, in the order the tests check.
    decltype(&::SetDllDirectoryW) SetDllDirectoryW;
    decltype(&::LoadLibraryW) LoadLibraryW;
    decltype(&::LoadLibraryExW) LoadLibraryExW;

    // The version queries: RtlGetVersion is looked up at run time, GetVersionExW answers when it
    // is missing or fails.
    decltype(&::GetProcAddress) GetProcAddress;
    decltype(&::GetVersionExW) GetVersionExW;

    // How the user token is found: the session's token, and the process list searched for
    // explorer.exe when the session gives none.
    WtsQueryUserTokenFunction WTSQueryUserToken;
    decltype(&::ProcessIdToSessionId) ProcessIdToSessionId;
    decltype(&::CreateToolhelp32Snapshot) CreateToolhelp32Snapshot;
    decltype(&::Process32FirstW) Process32FirstW;
    decltype(&::Process32NextW) Process32NextW;
    decltype(&::OpenProcess) OpenProcess;
};

SystemCalls RealSystemCalls() noexcept;

// kernel32's SetDefaultDllDirectories where this Windows has it (through g_os.GetProcAddress),
// else null.
SetDefaultDllDirectoriesFunction FindSetDefaultDllDirectories() noexcept;

extern SystemCalls g_os;
