// The file-error record that a failed CFile::Open fills instead of throwing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CFileException {
public:
    enum Cause {
        none = 0,
        genericException = 1,
        fileNotFound = 2,
        badPath = 3,
        tooManyOpenFiles = 4,
        accessDenied = 5,
        invalidFile = 6,
        removeCurrentDir = 7,
        directoryFull = 8,
        badSeek = 9,
        hardIO = 10,
        sharingViolation = 11,
        lockViolation = 12,
        diskFull = 13,
        endOfFile = 14,
    };

    CFileException() = default;
    CFileException(int cause, std::uint32_t osError, std::wstring fileName)
        : cause_(cause), osError_(osError), fileName_(std::move(fileName)) {}

    // Fills the record from a system error code, classifying it into a cause.
    void Set(std::uint32_t osError, const std::wstring& fileName);

    // The cause's text with the file name in it, cut to fit `capacity` characters including the
    // terminator. False when there is no room for any text at all.
    bool GetErrorMessage(wchar_t* buffer, std::size_t capacity) const;
    std::wstring ErrorText() const;

    static int OsErrorToCause(std::uint32_t osError);

    [[nodiscard]] int Cause() const noexcept { return cause_; }
    [[nodiscard]] std::uint32_t OsError() const noexcept { return osError_; }
    [[nodiscard]] const std::wstring& FileName() const noexcept { return fileName_; }

private:
    int cause_ = none;
    std::uint32_t osError_ = 0;
    std::wstring fileName_;
};
