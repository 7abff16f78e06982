#include "util/Utility.h"

#include "framework/UniqueHandle.h"
#include "util/FilesAt.h"
#include "util/SystemCalls.h"

#include <winioctl.h>
#include <winternl.h>

#include <cstring>
#include <vector>

namespace {

constexpr wchar_t kProtectedMarker[] = L"ProgramData";
constexpr DWORD kReparseBufferBytes = 4096;

// Far deeper than anything extracted; a tree deeper still stays rather than exhaust the stack.
constexpr int kMaxDepth = 256;

// A mount point whose path contains "ProgramData" (case-sensitive), judged by the reparse data of
// the open handle itself.
bool IsProtected(HANDLE item, const std::wstring& path) {
    if (path.find(kProtectedMarker) == std::wstring::npos)
        return false;
    std::vector<unsigned char> buffer(kReparseBufferBytes);
    DWORD returned = 0;
    if (!g_os.DeviceIoControl(item, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                              kReparseBufferBytes, &returned, nullptr))
        return false;
    DWORD tag = 0;
    std::memcpy(&tag, buffer.data(), sizeof tag);
    return tag == IO_REPARSE_TAG_MOUNT_POINT;
}

// Opens `path` itself for deletion: a link as the link.
UniqueFileHandle OpenForDeletion(const std::wstring& path) {
    return UniqueFileHandle(::CreateFileW(
        path.c_str(), DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool DeleteItem(HANDLE item, const std::wstring& path, int depth);

// Each entry is opened relative to the folder's handle, as itself, and judged on that handle: a
// folder swapped for a junction after it was listed is removed as the junction, never entered.
bool DeleteEntries(HANDLE folder, const std::wstring& path, int depth) {
    std::vector<std::wstring> names;
    if (!ListFolder(folder, names))
        return false;
    bool all = true;
    OpenAtRequest open;
    open.access = DELETE | FILE_LIST_DIRECTORY;
    for (const std::wstring& name : names) {
        const UniqueFileHandle entry = OpenAt(folder, name, open);
        if (entry)
            all = DeleteItem(entry.get(), path + L"\\" + name, depth + 1) && all;
        else
            all = IsMissing(::GetLastError()) && all;
    } // each entry marked for deletion goes as its handle closes
    return all;
}

// Deletes what `item` (opened with DELETE access) is. `path` names it for the guard.
bool DeleteItem(HANDLE item, const std::wstring& path, int depth) {
    const FileKind kind = KindOf(item);
    if (!kind.known || IsProtected(item, path))
        return false;
    if (kind.IsLink()) // removed as itself; what it points at is left alone
        return DeleteThrough(item);
    if (kind.IsFolder() && (depth > kMaxDepth || !DeleteEntries(item, path, depth)))
        return false;
    return DeleteThrough(item);
}

} // namespace

int CUtility::IsProtectedMountPoint(const std::wstring& path) noexcept {
    if (path.find(kProtectedMarker) == std::wstring::npos)
        return 0;
    try {
        const UniqueFileHandle handle(
            ::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        return handle && IsProtected(handle.get(), path) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int CUtility::SafeDeleteFile(const std::wstring& path) noexcept {
    return SafeRemoveDirectory(path);
}

int CUtility::SafeRemoveDirectory(const std::wstring& path) noexcept {
    try {
        const UniqueFileHandle item = OpenForDeletion(path);
        if (!item)
            return IsMissing(::GetLastError()) ? 1 : 0;
        if (IsProtected(item.get(), path))
            return 0;
        return DeleteThrough(item.get()) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

void CUtility::DeleteTree(const std::wstring& path) noexcept {
    try {
        std::wstring item = path;
        while (item.size() > 3 && item.back() == L'\\')
            item.pop_back();
        const UniqueFileHandle top = OpenForDeletion(item);
        if (top)
            (void)DeleteThroughHandle(top.get(), item);
    } catch (...) {
        // Out of memory for a path: what is left stays, as any other failed deletion.
    }
}

int CUtility::DeleteThroughHandle(HANDLE item, const std::wstring& path) noexcept {
    try {
        return DeleteItem(item, path, 0) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

int CUtility::DeleteEntriesThroughHandle(HANDLE folder, const std::wstring& path) noexcept {
    try {
        return DeleteEntries(folder, path, 0) ? 1 : 0;
    } catch (...) {
        return 0;
    }
}
