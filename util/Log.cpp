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

namespace {

// Says once in the debugger output that a file of the temporary directory is not taken, and why:
// the run goes on without it.
void NoteNotTaken(bool& noted, const wchar_t* name, const wchar_t* why) {
    if (noted)
        return;
    noted = true;
    const std::wstring note = std::wstring(name) + L" in " + CUtility::GetTempDirectory() +
                              L" is " + why + L": the run goes on without it";
    ::OutputDebugStringW(note.c_str());
}

// A folder, a link, a second name of another file, a file another program holds.
constexpr wchar_t kNotTaken[] = L"not a plain file of its own that this run may write";
constexpr wchar_t kNotOwn[] = L"not written: that is not the account's own temporary directory";

// The open file of that name in the account's own temporary directory; empty, with a note, when
// the directory is someone else's or the file is anything but a plain file of its own.
UniqueFileHandle OpenInLogDirectory(bool& noted, const wchar_t* name,
                                    const OpenAtRequest& request) {
    const HANDLE directory = CUtility::LogDirectoryHandle();
    if (directory == nullptr) {
        NoteNotTaken(noted, name, kNotOwn);
        return UniqueFileHandle();
    }
    UniqueFileHandle file = OpenAt(directory, name, request);
    if (!file || !KindOf(file.get()).IsPlainFile()) {
        NoteNotTaken(noted, name, kNotTaken);
        return UniqueFileHandle();
    }
    return file;
}

bool g_logNoted = false;
bool g_outputNoted = false;

} // namespace

void CUtility::AppendLogLine(const std::wstring& line) {
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
    const UniqueFileHandle file = OpenInLogDirectory(g_logNoted, kLogName, append);
    if (file) {
        const std::wstring text = line + L"\r\n";
        DWORD written = 0;
        ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)),
                    &written, nullptr);
    }
}

bool CUtility::TakeScriptOutput(UniqueFileHandle& held) {
    held.reset();
    // Writing data makes the share mode count: while this handle is open nobody else may write,
    // delete or rename the file, while anyone may read it. The command processor writes through it,
    // as its standard output. Only a plain file of one name is replaced: a link, a second name of
    // another file, a folder or a file another program holds stays exactly as it is, and the
    // script's output is then not kept.
    OpenAtRequest take;
    take.access = FILE_WRITE_DATA;
    take.share = FILE_SHARE_READ;
    take.disposition = FILE_OPEN_IF;
    take.options = FILE_NON_DIRECTORY_FILE;
    UniqueFileHandle output = OpenInLogDirectory(g_outputNoted, kScriptOutputName, take);
    if (!output)
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

    const std::wstring time = FormatTime(CurrentTimeValue());

    // Formatting may touch the thread's last error; the line shows the caller's.
    ::SetLastError(callerError);
    const DWORD lastError = ::GetLastError();

    const std::wstring line = ComposeLogLine(::GetCurrentProcessId(), time, message, lastError);
    ::OutputDebugStringW(line.c_str());
    AppendLogLine(line);
    ::SetLastError(callerError);
}

void CUtility::FileException(const CFileException& error) noexcept {
    wchar_t text[kMessageBufferChars] = {};
    if (error.GetErrorMessage(text, kMessageBufferChars))
        Log(L"[%s] %s", logsource::kFileException, text);
}
