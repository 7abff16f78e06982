// Files and folders reached through the handle of the folder they lie in, never by a path resolved
// again: the stub runs elevated in folders the desktop user can write, where a path checked one
// moment may lead elsewhere the next (a folder renamed and replaced, a junction put in its place).
// A name given here is one component, opened relative to its parent's handle, and a link is
// opened as itself, never followed: what was opened is what is checked and acted on.
#pragma once

#include "framework/UniqueHandle.h"

#include <windows.h>

#include <string>
#include <vector>

struct OpenAtRequest {
    ACCESS_MASK access = 0;
    ULONG share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    ULONG disposition = 1; // FILE_OPEN; FILE_CREATE, FILE_OPEN_IF, FILE_OVERWRITE_IF
    ULONG options = 0;     // FILE_DIRECTORY_FILE or FILE_NON_DIRECTORY_FILE, when it matters
    PSECURITY_DESCRIPTOR security = nullptr; // for what the open creates
};

// Opens `name` in the open folder `parent`, without following a link; the handle is synchronous,
// and a file another program holds an opportunistic lock on is taken as one in use
// (ERROR_SHARING_VIOLATION) rather than waited for. On failure the thread's last error tells why.
UniqueFileHandle OpenAt(HANDLE parent, const std::wstring& name,
                        const OpenAtRequest& request) noexcept;

// Opens what a full path names, as CreateFileW would with the same request: links on the way and
// at its end are followed, and a request without FILE_NON_DIRECTORY_FILE opens a folder as well
// (FILE_FLAG_BACKUP_SEMANTICS, without the backup intent). For what has no folder handle to be
// reached through: the temporary directory, the running image. Synchronous, never waits for
// another program's opportunistic lock; on failure the thread's last error tells why.
UniqueFileHandle OpenByPath(const std::wstring& path, const OpenAtRequest& request) noexcept;

struct FileKind {
    bool known = false; // the attributes could be read
    DWORD attributes = 0;
    DWORD reparseTag = 0; // 0 unless a reparse point
    DWORD links = 0;      // hard links to the same data
    [[nodiscard]] bool IsLink() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
    [[nodiscard]] bool IsFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
    // A file that is itself under one name: no link, no folder, no other hard link.
    [[nodiscard]] bool IsPlainFile() const {
        return known && !IsLink() && !IsFolder() && links == 1;
    }
};

// Whether an open failed because there is nothing of that name.
[[nodiscard]] inline bool IsMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// What the open handle is, read from the handle.
FileKind KindOf(HANDLE file) noexcept;

// The file's index on its volume, which no other file there has while it exists; false when it
// cannot be read. Cheaper than GetFileInformationByHandle, which asks the volume too.
[[nodiscard]] bool FileIndexOf(HANDLE file, ULONGLONG& index) noexcept;

// Marks the open file or empty folder for deletion; it goes when its last handle closes. A link
// goes as itself. Needs DELETE access.
[[nodiscard]] bool DeleteThrough(HANDLE file) noexcept;

// The names in an open folder (FILE_LIST_DIRECTORY access), without "." and "..". False when the
// folder could not be read to its end.
[[nodiscard]] bool ListFolder(HANDLE folder, std::vector<std::wstring>& names);

// The path the open file has, as Windows reaches it: long names, a drive letter, and a prefix
// (\\?\) only past 259 characters (PathToHandOn). Empty when it has no such path (a volume
// without a drive letter) or cannot be read (Wine 8 reads none past MAX_PATH).
std::wstring FinalPathOf(HANDLE file);
