// A small binary file class: the operations the stub needs to read its package and write the
// package's files, reporting failures by result instead of throwing. Only an open that fails says
// why, through a CFileException.
#pragma once

#include "framework/FileException.h"
#include "framework/UniqueHandle.h"

#include <windows.h>

#include <string>

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareExclusive = 0x0010,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeCreate = 0x1000,
    };
    enum SeekPosition : UINT { begin = 0, current = 1, end = 2 };

    static constexpr ULONGLONG kSeekFailed = ~0ULL;

    CFile() = default;
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Opens `path`; on failure returns false and fills `error` (when given) with the cause, the
    // system error code and the name as given.
    [[nodiscard]] bool Open(const wchar_t* path, UINT flags, CFileException* error = nullptr);

    // Opens `name` in the open folder `folder`, through its handle and never through a link;
    // `path` is the file's full path, for GetFilePath and the error. With modeCreate the file is
    // created new: a file already there under that name, whoever put it there, makes it fail.
    [[nodiscard]] bool OpenIn(HANDLE folder, const std::wstring& name, const std::wstring& path,
                              UINT flags, CFileException* error = nullptr);

    // Number of bytes read: fewer than asked at the end of the file, 0 at the end or on failure.
    [[nodiscard]] UINT Read(void* buffer, UINT count);

    // Asks the file system for room for `size` bytes ahead of writing them, so that a large file
    // is laid out at once rather than grown write by write. A hint: failure changes nothing.
    void Reserve(ULONGLONG size);

    // True only when every byte was written.
    [[nodiscard]] bool Write(const void* buffer, UINT count);

    // The new position, or kSeekFailed.
    ULONGLONG Seek(LONGLONG offset, UINT from);

    // The length in bytes, or 0 when it cannot be read.
    [[nodiscard]] ULONGLONG GetLength() const;

    // The full path, as resolved when the file was opened.
    [[nodiscard]] std::wstring GetFilePath() const { return path_; }

    [[nodiscard]] bool IsOpen() const { return static_cast<bool>(handle_); }
    [[nodiscard]] HANDLE Handle() const { return handle_.get(); }
    void Close();
    // Closes a file that OpenIn created, deleting it: nothing half-written stays behind.
    void CloseAndDelete();

private:
    UniqueFileHandle handle_;
    std::wstring path_;
};
