#include "util/Utility.h"

#include "framework/FileException.h"
#include "framework/UniqueHandle.h"
#include "util/LogLine.h"
#include "util/SystemCalls.h"

#include <cstdarg>
#include <cwchar>
#include <vector>

namespace {

constexpr size_t kMessageBufferChars = 1024;
constexpr size_t kMaxMessageChars = kMessageBufferChars - 2; // 1022 characters and a terminator

// A file that is itself, under one name: neither a reparse point (a symbolic link, a junction,
// a mount point) nor a directory, and with no other hard link that leads to the same data. Asked
// class by class: the whole-file query also reads the volume's serial number, which costs more
// than the rest of a log line together.
bool IsLinkFree(HANDLE file) {
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    FILE_STANDARD_INFO standard = {};
    if (!g_os.GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) ||
        !g_os.GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard))
        return false;
    return (tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
           standard.NumberOfLinks == 1;
}

// The text a path query writes, for queries that answer a buffer too small with the size they
// need: `query(buffer, size)` returns the length written. Empty when the query fails.
template <typename Query> std::wstring QueriedPath(Query query) {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    DWORD length = query(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = query(buffer.data(), static_cast<DWORD>(buffer.size()));
    }
    if (length == 0 || length >= buffer.size())
        return std::wstring();
    return std::wstring(buffer.data(), length);
}

std::wstring WithoutLongPathPrefix(const std::wstring& path) {
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\" + path.substr(7);
    if (path.compare(0, 4, L"\\\\?\\") == 0)
        return path.substr(4);
    return path;
}

bool SameFileName(const std::wstring& a, const std::wstring& b) {
    return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                  static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Whether the open file is the one at `path`, and not one reached through a junction or link in
// a folder above it. Windows gives the path it reached with long names, a drive letter and the
// \\?\ prefix; file names compare without case. The path asked for may hold 8.3 names (a TMP
// set to C:\Users\LONGUS~1\...): only then is its long form looked up, which reads every folder
// on the way and would otherwise cost more than the rest of the line. When Windows cannot give
// the final path, the file is taken to lie elsewhere: a folder reached only through a volume
// without a drive letter is no place for the log either.
bool LiesAt(HANDLE file, const std::wstring& path) {
    const std::wstring reached = QueriedPath([file](wchar_t* buffer, DWORD size) {
        return g_os.GetFinalPathNameByHandleW(file, buffer, size,
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    });
    if (reached.empty())
        return false;
    const std::wstring where = WithoutLongPathPrefix(reached);
    if (SameFileName(where, path))
        return true;
    const std::wstring longForm = QueriedPath([&path](wchar_t* buffer, DWORD size) {
        return ::GetLongPathNameW(path.c_str(), buffer, size);
    });
    return !longForm.empty() && SameFileName(where, longForm);
}

} // namespace

std::wstring CUtility::GetLogFilePath() {
    wchar_t temp[MAX_PATH + 1] = {};
    if (::GetTempPathW(MAX_PATH, temp) != 0)
        return std::wstring(temp) + L"unpack.log";

    wchar_t windows[MAX_PATH + 1] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    return std::wstring(windows) + L"\\Temp\\unpack.log";
}

void CUtility::AppendLogLine(const std::wstring& line) noexcept {
    try {
        // Appending, no sharing: a second writer at the same instant loses its line rather than
        // interleaving with this one. Binary: the bytes are UTF-16LE as they stand, no BOM. The
        // link itself is opened, never what it points at, so the check below sees it.
        const std::wstring path = GetLogFilePath();
        UniqueFileHandle file(
            ::CreateFileW(path.c_str(), FILE_APPEND_DATA | GENERIC_READ, 0, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        // The stub runs elevated and the temporary directory is the desktop user's: a log that
        // is a link, or that lies elsewhere than asked, would let that user's programs aim the
        // line at a file they may not write themselves. The line has reached the debugger.
        if (!file || !IsLinkFree(file.get()) || !LiesAt(file.get(), path))
            return;
        const std::wstring text = line + L"\r\n";
        DWORD written = 0;
        ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)),
                    &written, nullptr);
    } catch (...) {
        // Out of memory while building the text: the line is lost, the caller goes on.
    }
}

int CUtility::RemoveLinkedScriptOutput() noexcept {
    try {
        // Opened as itself (a link is not followed), with delete access, so that what is deleted
        // is exactly what was checked, whatever is renamed in between.
        const std::wstring path = GetLogFilePath() + L".txt";
        UniqueFileHandle output(::CreateFileW(
            path.c_str(), DELETE | FILE_READ_ATTRIBUTES,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!output) {
            const DWORD error = ::GetLastError();
            return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 1 : 0;
        }
        if (IsLinkFree(output.get()))
            return 1;
        FILE_DISPOSITION_INFO disposition = {};
        disposition.DeleteFile = TRUE;
        return ::SetFileInformationByHandle(output.get(), FileDispositionInfo, &disposition,
                                            sizeof disposition)
                   ? 1
                   : 0;
    } catch (...) {
        return 0;
    }
}

void CUtility::Log(const wchar_t* format, ...) noexcept {
    const DWORD callerError = ::GetLastError();

    wchar_t message[kMessageBufferChars] = {};
    va_list args;
    va_start(args, format);
    _vsnwprintf(message, kMaxMessageChars, format, args);
    va_end(args);
    message[kMaxMessageChars] = L'\0'; // a longer message is cut here, never written past

    try {
        const std::wstring time = FormatTime(CurrentTimeValue());

        // Formatting may touch the thread's last error; the line shows the caller's.
        ::SetLastError(callerError);
        const DWORD lastError = ::GetLastError();

        const std::wstring line = ComposeLogLine(::GetCurrentProcessId(), time, message, lastError);
        ::OutputDebugStringW(line.c_str());
        AppendLogLine(line);
    } catch (...) {
        // Out of memory: nothing to log with.
    }
    ::SetLastError(callerError);
}

void CUtility::FileException(const CFileException& error) noexcept {
    wchar_t text[kMessageBufferChars] = {};
    if (error.GetErrorMessage(text, kMessageBufferChars))
        Log(L"[%s] %s", L"CUtility::FileException", text);
}
