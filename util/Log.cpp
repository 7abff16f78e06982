#include "util/Utility.h"

#include "framework/FileException.h"
#include "framework/UniqueHandle.h"
#include "util/FilesAt.h"
#include "util/LogLine.h"
#include "util/LogSources.h"
#include "util/SystemCalls.h"

#include <winternl.h>

#include <cstdarg>
#include <cwchar>
#include <vector>

namespace {

constexpr size_t kMessageBufferChars = 1024;
constexpr size_t kMaxMessageChars = kMessageBufferChars - 2; // 1022 characters and a terminator

constexpr wchar_t kLogName[] = L"unpack.log";
constexpr wchar_t kScriptOutputName[] = L"unpack.log.txt";

} // namespace

std::wstring CUtility::GetLogFilePath() {
    return GetTempDirectory() + kLogName;
}

void CUtility::AppendLogLine(const std::wstring& line) noexcept {
    try {
        // Appending, no sharing: a second writer at the same instant loses its line rather than
        // interleaving with this one. Binary: the bytes are UTF-16LE as they stand, no BOM.
        // Opened in the temporary directory through its handle, the link itself and never what
        // it points at: the stub runs elevated, and a log that is a link, a folder or a second
        // name of another file would let the desktop user's programs aim the line at a file they
        // may not write themselves. The line has reached the debugger.
        OpenAtRequest append;
        append.access = FILE_APPEND_DATA | FILE_READ_DATA;
        append.share = 0;
        append.disposition = FILE_OPEN_IF;
        append.options = FILE_NON_DIRECTORY_FILE;
        const UniqueFileHandle file = OpenAt(TempDirectoryHandle(), kLogName, append);
        if (!file || !KindOf(file.get()).IsPlainFile())
            return;
        const std::wstring text = line + L"\r\n";
        DWORD written = 0;
        ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)),
                    &written, nullptr);
    } catch (...) {
        // Out of memory while building the text: the line is lost, the caller goes on.
    }
}

bool CUtility::TakeScriptOutput(UniqueFileHandle& held) noexcept {
    held.reset();
    const HANDLE temp = TempDirectoryHandle();
    // Whatever stands there that is not a plain file goes as itself: a link, a second name of
    // another file, an empty folder. Deleted through the handle that was checked.
    {
        OpenAtRequest check;
        check.access = DELETE;
        const UniqueFileHandle existing = OpenAt(temp, kScriptOutputName, check);
        if (existing && !KindOf(existing.get()).IsPlainFile() && !DeleteThrough(existing.get()))
            return false;
        // Held by another program that denies deletion: taken below only if it is plain.
        if (!existing && ::GetLastError() != ERROR_FILE_NOT_FOUND &&
            ::GetLastError() != ERROR_SHARING_VIOLATION)
            return false;
    } // closed, so that what was marked for deletion goes now

    // Writing data makes the share mode count: while this handle is open nobody else may write,
    // delete or rename the file, while anyone may read it. The command processor writes through it,
    // as its standard output. A link that took the place in between is seen here, on the handle
    // kept, before anything is written.
    OpenAtRequest take;
    take.access = FILE_WRITE_DATA;
    take.share = FILE_SHARE_READ;
    take.disposition = FILE_OPEN_IF;
    take.options = FILE_NON_DIRECTORY_FILE;
    UniqueFileHandle output = OpenAt(temp, kScriptOutputName, take);
    if (!output || !KindOf(output.get()).IsPlainFile())
        return false;
    FILE_END_OF_FILE_INFO empty = {}; // each run's output replaces the last one's
    if (!::SetFileInformationByHandle(output.get(), FileEndOfFileInfo, &empty, sizeof empty))
        return false;
    held = std::move(output);
    return true;
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
        Log(L"[%s] %s", logsource::kFileException, text);
}
