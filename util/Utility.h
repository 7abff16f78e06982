// CUtility: the program's free operations, grouped by concern. It holds static operations only.
// None of them logs, except Log itself, FileException and OSInfo, which exist to write a line.
#pragma once

#include "framework/UniqueHandle.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

class CFileException;

class CUtility {
public:
    CUtility() = delete;

    // --- Log ---------------------------------------------------------------------------------
    // printf-style, wide: "%s" takes a wide string. Every format starts with "[%s]" and the
    // caller's qualified name. Appends one line to the log file and the debugger output; the
    // caller's last error is part of the line and is left as it was.
    static void Log(const wchar_t* format, ...) noexcept;
    // "unpack.log" in the temporary directory.
    static std::wstring GetLogFilePath();
    // Writes only to a plain file with one name, opened in the temporary directory through its
    // handle, and only where that directory is the account's own (LogDirectoryHandle); anything
    // else (a link, a directory, a file with other hard links, a file another program holds) gets
    // no line, and the debugger output says so once.
    static void AppendLogLine(const std::wstring& line);
    // The default script's output goes to the log path + ".txt". Takes it, created or emptied,
    // only when it is a plain file of its own with one link, and holds it in `held`, open for
    // writing and sharing reads only, so that the script writes into it through that handle and
    // nothing can be put in its place. False, with the file untouched and a note in the debugger
    // output, when it is anything else: the run goes on without the output.
    [[nodiscard]] static bool TakeScriptOutput(UniqueFileHandle& held);
    static void FileException(const CFileException& error) noexcept;

    // --- The temporary directory -------------------------------------------------------------
    // Where the log, the extraction folder and the script's output lie, resolved once per
    // process: GetTempPath2W where Windows has it (SYSTEM's own directory), else GetTempPathW,
    // else the Windows directory's Temp; never a relative path, whatever its length. Named as
    // Windows reaches it (junctions resolved) and ending in a backslash.
    static std::wstring GetTempDirectory();
    // Its handle, held for the rest of the process so that it cannot be renamed or replaced;
    // INVALID_HANDLE_VALUE when it could not be opened.
    static HANDLE TempDirectoryHandle();
    // The same handle when the directory is the account's own (in its profile, or SYSTEM's
    // SystemTemp), the only place the log, the script's output and the installer's kept logs are
    // written; null anywhere else.
    static HANDLE LogDirectoryHandle();

    // --- Paths and guarded deletion ------------------------------------------------------------
    // Deletes what `item` is (opened as itself, a link as the link, with DELETE and
    // FILE_LIST_DIRECTORY access): a file or link as itself, a folder with everything below it.
    // Never follows a reparse point: a link inside the tree is removed, what it points at is left
    // alone. Each entry is opened relative to its folder's handle and judged on its own handle,
    // so nothing checked is reached again by path. A protected mount point is left, and the
    // folders above it. `path` names the item for that guard. True when all of it is marked for
    // deletion: it goes as the handles close. Otherwise `leftovers`, when given, receives the
    // paths of what stays (a file in use, a running program's image, the folders holding them),
    // each after everything below it.
    [[nodiscard]] static bool DeleteTree(HANDLE item, const std::wstring& path,
                                         std::vector<std::wstring>* leftovers = nullptr);
    // The same for everything below the open folder `folder` (FILE_LIST_DIRECTORY access), which
    // itself stays.
    [[nodiscard]] static bool DeleteContents(HANDLE folder, const std::wstring& path,
                                             std::vector<std::wstring>* leftovers);
    // 1 for a mount point whose path contains "ProgramData" (case-sensitive), judged by the
    // reparse data of the open `item` itself; 0 otherwise.
    [[nodiscard]] static int IsProtectedMountPoint(HANDLE item, const std::wstring& path);
    // Cuts the last `count` backslash-separated components; a path without a backslash stays.
    static void RemovePathComponents(std::wstring& path, int count);
    // Full path of the running executable; empty when it cannot be had.
    static std::wstring GetModulePath();

    // --- OS version and environment --------------------------------------------------------
    // 5 Windows 10 and later, 4 Windows 8.1, 3 Windows 8, 2 Windows 7, 1 Vista, 0 older or
    // unknown. The record, when asked for, receives the query that gave the class.
    static int GetOSVersionClass(OSVERSIONINFOEXW* record = nullptr) noexcept;
    // The GetVersionExW answer, which tops out at class 3.
    static int GetLegacyOSVersionClass(OSVERSIONINFOEXW* record = nullptr) noexcept;
    // Logs "OS major.minor(build) service-pack x64:wow64".
    static void OSInfo() noexcept;
    [[nodiscard]] static int IsPreVista() noexcept;
    [[nodiscard]] static int IsWow64() noexcept;

    // --- Time ----------------------------------------------------------------------------------
    // Time values are seconds since 1970 UTC. The current UTC time as text, as the product key's
    // "CloudAutoUpdateTimeStart" holds it, is FormatTime(LocalTimeToUtc(GetCurrentLocalTime())):
    // two shifts by the zone's offset that cancel into the UTC wall clock (docs/COMPATIBILITY.md).
    // Neither is wrong alone, and changing one changes the registry value.
    //
    // The local wall clock read as a time value by the zone's rules: the instant itself.
    static std::int64_t GetCurrentLocalTime();
    // The current time value, from the system clock: the log's clock.
    static std::int64_t CurrentTimeValue();
    // Local wall clock minus UTC wall clock, both read as time values the same way: the zone's
    // offset in whole seconds, east positive.
    static std::int64_t GetUtcOffset();
    // `time` moved back by that offset.
    static std::int64_t LocalTimeToUtc(std::int64_t time);
    // The time value as the local wall clock "%Y-%m-%d %H:%M:%S"; empty when the conversion or
    // the formatting fails.
    static std::wstring FormatTime(std::int64_t time);

    // --- Processes and the logged-on user's token -------------------------------------------
    // As a session id: every session for FindProcessesByName, the current process's session for
    // GetLoggedOnUserToken.
    static constexpr DWORD kAnySession = 0xFFFFFFFF;

    // Fills `processIds` with the processes whose executable file name equals `name`, ignoring the
    // case of A to Z only, in the order of the system's process list; with a session other than
    // kAnySession only the processes known to run in that session. The list is emptied first.
    // 1 when the process list could be read, else 0 (and an empty list).
    [[nodiscard]] static int FindProcessesByName(const std::wstring& name,
                                                 std::vector<DWORD>& processIds,
                                                 DWORD sessionId = kAnySession);
    // The full path of the program a process runs; empty when it cannot be read.
    static std::wstring ProcessImagePath(DWORD processId);
    // The processes whose program lies in `folder` (a path ending in a backslash, compared
    // without case), in the order of the system's process list.
    static std::vector<DWORD> ProcessesRunningFrom(const std::wstring& folder);
    // The command line an open process (PROCESS_QUERY_INFORMATION and PROCESS_VM_READ access) was
    // started with; false when it cannot be read (a process of the other bitness before Windows
    // 8.1, one that has ended).
    [[nodiscard]] static bool ProcessCommandLine(HANDLE process, std::wstring& commandLine);
    // The primary token of the user logged on to the session, from terminal services or, failing
    // that, from explorer.exe (DuplicateExplorerToken). Nonzero on success; `token` then owns it.
    [[nodiscard]] static int GetLoggedOnUserToken(UniqueHandle& token,
                                                  DWORD sessionId = kAnySession);
    // A primary token duplicated from the first explorer.exe in the process list, whatever its
    // session. Nonzero on success; `token` then owns it.
    [[nodiscard]] static int DuplicateExplorerToken(UniqueHandle& token);
};
