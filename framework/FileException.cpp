#include "framework/FileException.h"

#include <algorithm>
#include <cwchar>

namespace {

const wchar_t* const kCauseTexts[] = {
    L"No error occurred.",
    L"An unknown error occurred while accessing %1.",
    L"%1 was not found.",
    L"%1 contains an incorrect path.",
    L"Could not open %1 because there are too many open files.",
    L"Access to %1 was denied.",
    L"An incorrect file handle was associated with %1.",
    L"Could not remove %1 because it is the current directory.",
    L"Could not create %1 because the directory is full.",
    L"Seek failed on %1",
    L"Encountered a hardware I/O error while accessing %1.",
    L"Encountered a sharing violation while accessing %1.",
    L"Encountered a locking violation while accessing %1.",
    L"Disk full while accessing %1.",
    L"Attempted to access %1 past its end.",
};

constexpr std::size_t kMaxTextChars = 1023;

} // namespace

int CFileException::OsErrorToCause(std::uint32_t osError) {
    switch (osError) {
    case 0: // NO_ERROR
        return none;
    case 2:  // ERROR_FILE_NOT_FOUND
    case 6:  // ERROR_INVALID_HANDLE
    case 18: // ERROR_NO_MORE_FILES
        return fileNotFound;
    case 3:   // ERROR_PATH_NOT_FOUND
    case 15:  // ERROR_INVALID_DRIVE
    case 123: // ERROR_INVALID_NAME
    case 161: // ERROR_BAD_PATHNAME
    case 206: // ERROR_FILENAME_EXCED_RANGE
        return badPath;
    case 4: // ERROR_TOO_MANY_OPEN_FILES
        return tooManyOpenFiles;
    case 5:  // ERROR_ACCESS_DENIED
    case 19: // ERROR_WRITE_PROTECT
        return accessDenied;
    case 16: // ERROR_CURRENT_DIRECTORY
        return removeCurrentDir;
    case 25:  // ERROR_SEEK
    case 131: // ERROR_NEGATIVE_SEEK
        return badSeek;
    case 21: // ERROR_NOT_READY
    case 23: // ERROR_CRC
    case 29: // ERROR_WRITE_FAULT
    case 30: // ERROR_READ_FAULT
    case 31: // ERROR_GEN_FAILURE
        return hardIO;
    case 32: // ERROR_SHARING_VIOLATION
    case 36: // ERROR_SHARING_BUFFER_EXCEEDED
        return sharingViolation;
    case 33: // ERROR_LOCK_VIOLATION
        return lockViolation;
    case 38: // ERROR_HANDLE_EOF
        return endOfFile;
    case 39:  // ERROR_HANDLE_DISK_FULL
    case 112: // ERROR_DISK_FULL
        return diskFull;
    default:
        return genericException;
    }
}

void CFileException::Set(std::uint32_t osError, const std::wstring& fileName) {
    cause_ = OsErrorToCause(osError);
    osError_ = osError;
    fileName_ = fileName;
}

std::wstring CFileException::ErrorText() const {
    const int cause = (cause_ >= none && cause_ <= endOfFile) ? cause_ : genericException;
    const std::wstring name = fileName_.empty() ? L"an unnamed file" : fileName_;

    std::wstring text = kCauseTexts[cause];
    const std::size_t placeholder = text.find(L"%1");
    if (placeholder != std::wstring::npos)
        text.replace(placeholder, 2, name);
    if (text.size() > kMaxTextChars)
        text.resize(kMaxTextChars);
    return text;
}

bool CFileException::GetErrorMessage(wchar_t* buffer, std::size_t capacity) const {
    if (buffer == nullptr || capacity == 0)
        return false;
    const std::wstring text = ErrorText();
    const std::size_t count = std::min(text.size(), capacity - 1);
    std::wmemcpy(buffer, text.data(), count);
    buffer[count] = L'\0';
    return true;
}
