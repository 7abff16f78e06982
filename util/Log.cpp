#include "util/Utility.h"

#include "framework/FileException.h"
#include "framework/UniqueHandle.h"
#include "util/LogLine.h"

#include <cstdarg>
#include <cwchar>

namespace {

constexpr size_t kMessageBufferChars = 1024;
constexpr size_t kMaxMessageChars = kMessageBufferChars - 2; // 1022 characters and a terminator

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
        // interleaving with this one. Binary: the bytes are UTF-16LE as they stand, no BOM.
        UniqueFileHandle file(::CreateFileW(GetLogFilePath().c_str(),
                                            FILE_APPEND_DATA | GENERIC_READ, 0, nullptr,
                                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file)
            return;
        const std::wstring text = line + L"\r\n";
        DWORD written = 0;
        ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)),
                    &written, nullptr);
    } catch (...) {
        // Out of memory while building the text: the line is lost, the caller goes on.
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
