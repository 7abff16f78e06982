#include "util/Utility.h"

#include "framework/UniqueHandle.h"
#include "util/FilesAt.h"
#include "util/SystemCalls.h"

#include <winioctl.h>
#include <winternl.h>

#include <cstring>
#include <vector>

namespace {

// Mount points under this (with its case) are never deleted (docs/COMPATIBILITY.md).
constexpr wchar_t kProtectedMarker[] = L"ProgramData";
constexpr DWORD kReparseBufferBytes = 4096;

// Far deeper than anything extracted; a tree deeper still stays rather than exhaust the stack.
constexpr int kMaxDepth = 256;

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
    if (!kind.known || CUtility::IsProtectedMountPoint(item, path))
        return false;
    if (kind.IsLink()) // removed as itself; what it points at is left alone
        return DeleteThrough(item);
    if (kind.IsFolder() && (depth > kMaxDepth || !DeleteEntries(item, path, depth)))
        return false;
    return DeleteThrough(item);
}

} // namespace

int CUtility::IsProtectedMountPoint(HANDLE item, const std::wstring& path) noexcept {
    if (path.find(kProtectedMarker) == std::wstring::npos)
        return 0;
    try {
        std::vector<unsigned char> buffer(kReparseBufferBytes);
        DWORD returned = 0;
        if (!g_os.DeviceIoControl(item, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                                  kReparseBufferBytes, &returned, nullptr))
            return 0;
        DWORD tag = 0;
        std::memcpy(&tag, buffer.data(), sizeof tag);
        return tag == IO_REPARSE_TAG_MOUNT_POINT ? 1 : 0;
    } catch (...) {
        return 0;
    }
}

bool CUtility::DeleteTree(HANDLE item, const std::wstring& path) noexcept {
    try {
        return DeleteItem(item, path, 0);
    } catch (...) {
        return false; // out of memory for a path: what is left stays, as any failed deletion
    }
}
