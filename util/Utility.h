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
    // handle; anything else (a link, a directory, a file with other hard links) gets no line.
    static void AppendLogLine(const std::wstring& line) noexcept;
    // The default script's output goes to the log path + ".txt". Makes that a plain, empty file
    // of its own with one link (a link there is deleted as a link, never followed) and holds it in
    // `held`, open for writing and sharing reads only, so that the script writes into it through
    // that handle and nothing can be put in its place. 1 when held; 0 when a link there could not
    // be removed or the file not taken.
    static int TakeScriptOutput(UniqueFileHandle& held) noexcept;
    static void FileException(const CFileException& error) noexcept;

    // --- The temporary directory -------------------------------------------------------------
    // Where the log, the extraction folder and the script's output lie, resolved once per
    // process: GetTempPath2W where Windows has it (SYSTEM's own directory), else GetTempPathW,
    // else the Windows directory's Temp; never a relative path, whatever its length. Named as
    // Windows reaches it (junctions resolved) and ending in a backslash.
    static std::wstring GetTempDirectory();
    // Its handle, held for the rest of the process so that it cannot be renamed or replaced;
    // INVALID_HANDLE_VALUE when it could not be opened.
    static HANDLE TempDirectoryHandle() noexcept;

    // --- Paths and guarded deletion ------------------------------------------------------------
    // Deletes everything below `path` and then `path` itself. Never follows a reparse point: a
    // link inside the tree is removed, what it points at is left alone. Each entry is opened
    // relative to its folder's handle and judged on its own handle, so nothing checked is
    // reached again by path.
    static void DeleteTree(const std::wstring& path) noexcept;
    // The same for what `item` (opened as itself, with DELETE access) is; `path` names it for the
    // mount-point guard. 1 when all of it is marked for deletion: it goes as the handles close.
    static int DeleteThroughHandle(HANDLE item, const std::wstring& path) noexcept;
    // Everything inside the open folder `folder` (opened with FILE_LIST_DIRECTORY), not the folder.
    static int DeleteEntriesThroughHandle(HANDLE folder, const std::wstring& path) noexcept;
    // Nonzero when deleted or absent; 0 when refused (a protected mount point) or failed.
    static int SafeDeleteFile(const std::wstring& path) noexcept;
    static int SafeRemoveDirectory(const std::wstring& path) noexcept;
    // 1 for a mount point whose path contains "ProgramData" (case-sensitive).
    [[nodiscard]] static int IsProtectedMountPoint(const std::wstring& path) noexcept;
    [[nodiscard]] static int PathExists(const std::wstring& path) noexcept;
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
    // Time values are seconds since 1970 UTC. The current UTC time as text is
    // FormatTime(LocalTimeToUtc(GetCurrentLocalTime())).
    static std::int64_t GetCurrentLocalTime();
    // The current time value (UTC), from the system clock.
    static std::int64_t CurrentTimeValue();
    // Local time minus UTC, in whole seconds.
    static std::int64_t GetUtcOffset();
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
                                                 DWORD sessionId = kAnySession) noexcept;
    // The primary token of the user logged on to the session, from terminal services or, failing
    // that, from explorer.exe (DuplicateExplorerToken). Nonzero on success; `token` then owns it.
    [[nodiscard]] static int GetLoggedOnUserToken(UniqueHandle& token,
                                                  DWORD sessionId = kAnySession) noexcept;
    // A primary token duplicated from the first explorer.exe in the process list, whatever its
    // session. Nonzero on success; `token` then owns it.
    [[nodiscard]] static int DuplicateExplorerToken(UniqueHandle& token) noexcept;
};
