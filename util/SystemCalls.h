// The few system calls whose failures the program must handle but that cannot be made to fail for
// real in a test (a directory that never gets created, a reparse point Wine cannot make, a file
// reached through a link Wine cannot make, a session without a user token, a system without
// explorer.exe), or whose arguments a test must see (the command a launch starts). Code calls
// them through g_os; tests swap entries and restore the table afterwards. Every other system call
// is made directly.
#pragma once

#include <windows.h>
#include <aclapi.h>
#include <tlhelp32.h>

// kernel32's SetDefaultDllDirectories, missing on Windows 7 without update KB2533623.
using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD directoryFlags);

// ntdll's NtCreateFile, bound at start-up: it opens and creates relative to a folder's handle.
using NtCreateFileFunction = LONG(NTAPI*)(PHANDLE file, ACCESS_MASK access, PVOID attributes,
                                          PVOID status, PLARGE_INTEGER allocation,
                                          ULONG fileAttributes, ULONG share, ULONG disposition,
                                          ULONG options, PVOID extended, ULONG extendedLength);

// ntdll's NtQueryVolumeInformationFile, bound at start-up: what the volume of an open file says
// of itself, its free space among it, asked through the handle rather than by a path.
using NtQueryVolumeInformationFileFunction = LONG(NTAPI*)(HANDLE file, PVOID status,
                                                          PVOID information, ULONG length,
                                                          ULONG kind);

// wtsapi32's WTSQueryUserToken. The program does not import wtsapi32: the real entry is bound on
// its first call, from the system directory.
using WtsQueryUserTokenFunction = BOOL(WINAPI*)(ULONG sessionId, PHANDLE token);

// Each entry names the tests that replace it (tests/win/).
struct SystemCalls {
    // The temporary directory when GetTempPath2W is missing (TempDirectoryTest).
    decltype(&::GetTempPathW) GetTempPathW;

    // Opening and creating in a folder through its handle: the log, the extraction folder and
    // its files, the script's output, every step of a deletion (ExtractionFolderTest: a creation
    // that fails, a rename tried right after it); and by path: the temporary directory, the
    // running image. Another program's opportunistic lock, which Wine never grants, on the log
    // and the script's output (LogTest), on the temporary directory (TempDirectoryTest), on what
    // lies at the image's path (LaunchTest). The pause between attempts (ExtractionFolderTest,
    // LaunchTest).
    NtCreateFileFunction NtCreateFile;
    decltype(&::Sleep) Sleep;

    // What an open file is, a mount point's reparse data, where a file lies: the reparse points
    // and links Wine cannot make, and final paths past MAX_PATH it cannot read (DeletionTest,
    // ExtractionFolderTest, LogTest, TempDirectoryTest).
    decltype(&::DeviceIoControl) DeviceIoControl;
    decltype(&::GetFileInformationByHandleEx) GetFileInformationByHandleEx;
    decltype(&::GetFinalPathNameByHandleW) GetFinalPathNameByHandleW;

    // Reading the package through CFile, failing at one offset as a bad disk would
    // (ExtractionTest).
    decltype(&::ReadFile) ReadFile;

    // Free space of the extraction folder's volume, through the folder's handle, and whether the
    // window station is the visible one before a box (ExtractionTest: a full disk, attended and
    // unattended; which volume is asked; memory that runs out at an entry).
    NtQueryVolumeInformationFileFunction NtQueryVolumeInformationFile;
    decltype(&::GetUserObjectInformationW) GetUserObjectInformationW;

    // The log clock's conversion to local time; a failed one leaves the line without a time
    // (LogTest).
    decltype(&::SystemTimeToTzSpecificLocalTime) SystemTimeToTzSpecificLocalTime;

    // Starting the installer, waiting for it, and its exit code (LaunchTest: what a launch is
    // given, a wait that fails, an exit code that cannot be read).
    decltype(&::CreateProcessW) CreateProcessW;
    decltype(&::WaitForSingleObject) WaitForSingleObject;
    decltype(&::GetExitCodeProcess) GetExitCodeProcess;
    // Following the installer's processes through a job (LaunchTest: a job that cannot be
    // assigned, a completion message lost).
    decltype(&::AssignProcessToJobObject) AssignProcessToJobObject;
    decltype(&::GetQueuedCompletionStatus) GetQueuedCompletionStatus;

    // Who the process is: an administrator, SYSTEM, or neither (ExtractionFolderTest: SYSTEM's
    // folder, a token without administrator rights). Whose an earlier folder is, which Wine,
    // keeping no access-control lists, cannot show (ExtractionFolderTest).
    decltype(&::CheckTokenMembership) CheckTokenMembership;
    decltype(&::GetTokenInformation) GetTokenInformation;
    decltype(&::GetSecurityInfo) GetSecurityInfo;

    // Opening a path by its text, to see that it reaches the file that is held (LaunchTest: a
    // path Windows parses into another file); deleting at the next restart (ExtractionFolderTest,
    // LaunchTest: what is scheduled, and in which order).
    decltype(&::CreateFileW) CreateFileW;
    decltype(&::MoveFileExW) MoveFileExW;

    // Loading a library by its full path (OsQueriesTest: every path is the system directory's).
    decltype(&::LoadLibraryW) LoadLibraryW;

    // Exports looked up at run time, RtlGetVersion, IsWow64Process, SetDefaultDllDirectories and
    // GetTempPath2W among them, and the GetVersionExW fallback (OsQueriesTest, TempDirectoryTest).
    decltype(&::GetProcAddress) GetProcAddress;
    decltype(&::GetVersionExW) GetVersionExW;

    // How the user token is found: the session's token, and the process list searched for
    // explorer.exe when the session gives none (ProcessesTest, UserTokenTest,
    // ImpersonateUserTest).
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
