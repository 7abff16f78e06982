#include "util/File.h"

#include "util/FilesAt.h"
#include "util/SystemCalls.h"

#include <winternl.h>

#include <vector>

namespace {

DWORD AccessFor(UINT flags) {
    switch (flags & 0x3) {
    case CFile::modeWrite:
        return GENERIC_WRITE;
    case CFile::modeReadWrite:
        return GENERIC_READ | GENERIC_WRITE;
    default:
        return GENERIC_READ;
    }
}

DWORD ShareFor(UINT flags) {
    switch (flags & 0x70) {
    case CFile::shareDenyWrite:
        return FILE_SHARE_READ;
    case CFile::shareDenyRead:
        return FILE_SHARE_WRITE;
    case CFile::shareDenyNone:
        return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default:
        return 0;
    }
}

std::wstring FullPathOf(const wchar_t* path) {
    const DWORD needed = ::GetFullPathNameW(path, 0, nullptr, nullptr);
    if (needed == 0)
        return path;
    std::vector<wchar_t> buffer(needed + 1);
    const DWORD written = ::GetFullPathNameW(path, needed + 1, buffer.data(), nullptr);
    if (written == 0 || written > needed)
        return path;
    return std::wstring(buffer.data(), written);
}

} // namespace

bool CFile::Open(const wchar_t* path, UINT flags, CFileException* error) {
    Close();
    // Through NtCreateFile, as CreateFileW would open it, but without waiting for another
    // program's opportunistic lock: the stub's own image can be renamed while it runs and a file
    // of the desktop user's put at its path.
    OpenAtRequest request;
    request.access = AccessFor(flags);
    request.share = ShareFor(flags);
    request.disposition = (flags & modeCreate) ? FILE_OVERWRITE_IF : FILE_OPEN;
    request.options = FILE_NON_DIRECTORY_FILE;
    handle_ = OpenByPath(path != nullptr ? path : L"", request);
    if (!handle_) {
        if (error != nullptr)
            error->Set(::GetLastError(), path != nullptr ? path : L"");
        return false;
    }
    path_ = FullPathOf(path);
    return true;
}

bool CFile::OpenIn(HANDLE folder, const std::wstring& name, const std::wstring& path, UINT flags,
                   CFileException* error) {
    Close();
    OpenAtRequest request;
    request.access = AccessFor(flags) | ((flags & modeCreate) ? DELETE : 0);
    request.share = ShareFor(flags);
    request.disposition = (flags & modeCreate) ? FILE_CREATE : FILE_OPEN;
    request.options = FILE_NON_DIRECTORY_FILE;
    handle_ = OpenAt(folder, name, request);
    if (!handle_) {
        if (error != nullptr)
            error->Set(::GetLastError(), path);
        return false;
    }
    path_ = path;
    return true;
}

UINT CFile::Read(void* buffer, UINT count) {
    DWORD read = 0;
    if (!g_os.ReadFile(handle_.get(), buffer, count, &read, nullptr))
        return 0;
    return read;
}

void CFile::Reserve(ULONGLONG size) {
    FILE_ALLOCATION_INFO allocation = {};
    allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(size);
    ::SetFileInformationByHandle(handle_.get(), FileAllocationInfo, &allocation, sizeof allocation);
}

bool CFile::Write(const void* buffer, UINT count) {
    DWORD written = 0;
    return ::WriteFile(handle_.get(), buffer, count, &written, nullptr) && written == count;
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from) {
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position;
    if (!::SetFilePointerEx(handle_.get(), distance, &position, from))
        return kSeekFailed;
    return static_cast<ULONGLONG>(position.QuadPart);
}

ULONGLONG CFile::GetLength() const {
    LARGE_INTEGER size;
    if (!::GetFileSizeEx(handle_.get(), &size))
        return 0;
    return static_cast<ULONGLONG>(size.QuadPart);
}

void CFile::CloseAndDelete() {
    if (handle_)
        (void)DeleteThrough(handle_.get());
    Close();
}

void CFile::Close() {
    handle_.reset();
    path_.clear();
}
