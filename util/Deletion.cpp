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

// What could not be deleted, deepest first, when the caller asks.
using Leftovers = std::vector<std::wstring>;

bool DeleteItem(HANDLE item, const std::wstring& path, int depth, Leftovers* leftovers);

bool Left(const std::wstring& path, Leftovers* leftovers) {
    if (leftovers != nullptr)
        leftovers->push_back(path);
    return false;
}

// Each entry is opened relative to the folder's handle, as itself, and judged on that handle: a
// folder swapped for a junction after it was listed is removed as the junction, never entered.
bool DeleteEntries(HANDLE folder, const std::wstring& path, int depth, Leftovers* leftovers) {
    std::vector<std::wstring> names;
    if (!ListFolder(folder, names))
        return false;
    bool all = true;
    OpenAtRequest open;
    open.access = DELETE | FILE_LIST_DIRECTORY;
    // What opens as no folder is a file or a link, deleted as itself whatever it is: marked
    // through that handle without asking what it is, which would cost each file of a large
    // package a round trip to Wine's server. A folder fails that open and is taken as below, and
    // so is everything where a protected mount point may lie.
    OpenAtRequest file;
    file.access = DELETE;
    file.options = FILE_NON_DIRECTORY_FILE;
    for (const std::wstring& name : names) {
        const std::wstring entryPath = path + L"\\" + name;
        if (entryPath.find(kProtectedMarker) == std::wstring::npos) {
            if (const UniqueFileHandle plain = OpenAt(folder, name, file)) {
                all = (DeleteThrough(plain.get()) || Left(entryPath, leftovers)) && all;
                continue;
            }
            if (::GetLastError() == ERROR_SHARING_VIOLATION) {
                all = Left(entryPath, leftovers); // held by another program denying deletion
                continue;
            }
        }
        const UniqueFileHandle entry = OpenAt(folder, name, open);
        if (entry)
            all = DeleteItem(entry.get(), entryPath, depth + 1, leftovers) && all;
        else if (!IsMissing(::GetLastError()))
            all = Left(entryPath, leftovers); // held by another program that denies deletion
    } // each entry marked for deletion goes as its handle closes
    return all;
}

// Deletes what `item` (opened with DELETE access) is. `path` names it for the guard.
bool DeleteItem(HANDLE item, const std::wstring& path, int depth, Leftovers* leftovers) {
    const FileKind kind = KindOf(item);
    if (!kind.known || CUtility::IsProtectedMountPoint(item, path))
        return false; // never scheduled either: what is protected stays
    // Removed as itself; what it points at is left alone. One that stays is not reported for a
    // later deletion by path, which would reach what it points at.
    if (kind.IsLink())
        return DeleteThrough(item);
    if (kind.IsFolder() && (depth > kMaxDepth || !DeleteEntries(item, path, depth, leftovers)))
        return Left(path, leftovers);
    return DeleteThrough(item) || Left(path, leftovers);
}

} // namespace

int CUtility::IsProtectedMountPoint(HANDLE item, const std::wstring& path) {
    if (path.find(kProtectedMarker) == std::wstring::npos)
        return 0;
    std::vector<unsigned char> buffer(kReparseBufferBytes);
    DWORD returned = 0;
    if (!g_os.DeviceIoControl(item, FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                              kReparseBufferBytes, &returned, nullptr))
        return 0;
    DWORD tag = 0;
    std::memcpy(&tag, buffer.data(), sizeof tag);
    return tag == IO_REPARSE_TAG_MOUNT_POINT ? 1 : 0;
}

bool CUtility::DeleteTree(HANDLE item, const std::wstring& path,
                          std::vector<std::wstring>* leftovers) {
    return DeleteItem(item, path, 0, leftovers);
}

bool CUtility::DeleteContents(HANDLE folder, const std::wstring& path,
                              std::vector<std::wstring>* leftovers) {
    return DeleteEntries(folder, path, 0, leftovers);
}
