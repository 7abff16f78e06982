// The few system calls whose failures the program must handle but that cannot be made to fail for
// real in a test (a directory that never gets created, a reparse point Wine cannot make, a file
// reached through a link Wine cannot make, a session without a user token, a system without
// explorer.exe), or whose arguments a test must see (the command a launch starts). Code calls
// them through g_os; tests swap entries and restore the table afterwards. Every other system call
// is made directly.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

// kernel32's SetDefaultDllDirectories, missing on Windows 7 without update KB2533623.
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD directoryFlags);

// ntdll's NtCreateFile, bound at start-up: it opens and creates relative to a folder's handle.
using NtCreateFileFunction = LONG(NTAPI*)(PHANDLE file, ACCESS_MASK access, PVOID attributes,
                                          PVOID status, PLARGE_INTEGER allocation,
                                          ULONG fileAttributes, ULONG share, ULONG disposition,
                                          ULONG options, PVOID extended, ULONG extendedLength);

// wtsapi32's WTSQueryUserToken. The program does not import wtsapi32: the real entry is bound on
// its first call, from the system directory.
using WtsQueryUserTokenFunction = BOOL(WINAPI*)(ULONG sessionId, PHANDLE token);

struct SystemCalls {
    // The temporary directory, when GetTempPath2W is missing (through GetProcAddress).
    decltype(&::GetTempPathW) GetTempPathW;

    // Opening and creating in a folder through its handle: the log, the extraction folder and
    // its files, the script's output, every step of a deletion. And the pause between attempts.
    NtCreateFileFunction NtCreateFile;
    decltype(&::Sleep) Sleep;

    // What an open file is (attributes, reparse tag, links, a folder's entries), a mount point's
    // reparse data, and where a file lies.
    decltype(&::DeviceIoControl) DeviceIoControl;
    decltype(&::GetFileInformationByHandleEx) GetFileInformationByHandleEx;
    decltype(&::GetFinalPathNameByHandleW) GetFinalPathNameByHandleW;

    // Reading a file through CFile: the package is the file that must be read without fail.
    decltype(&::ReadFile) ReadFile;

    // Free space of the current directory's volume (not the extraction folder's:
    // docs/COMPATIBILITY.md), and the Program Files fallback.
    decltype(&::GetDiskFreeSpaceExW) GetDiskFreeSpaceExW;
    decltype(&::SHGetFolderPathW) SHGetFolderPathW;

    // Whether the window station is the visible one, before a message box.
    decltype(&::GetUserObjectInformationW) GetUserObjectInformationW;

    // The log clock's conversion to local time; a failed one leaves the line without a time.
    decltype(&::SystemTimeToTzSpecificLocalTime) SystemTimeToTzSpecificLocalTime;

    // Starting the installer, waiting for it, and its exit code when the wait itself fails.
    decltype(&::CreateProcessW) CreateProcessW;
    decltype(&::WaitForSingleObject) WaitForSingleObject;
    decltype(&::GetExitCodeProcess) GetExitCodeProcess;

    // Loading a library by its full path (OsQueriesTest: every path is the system directory's).
    decltype(&::LoadLibraryW) LoadLibraryW;

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
