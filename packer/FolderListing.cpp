#include "packer/FolderListing.h"

#include "packer/EntryNames.h"
#include "packer/PackError.h"

#include <algorithm>
#include <system_error>
#include <tuple>

#ifdef _WIN32
#include "framework/UniqueHandle.h"

#include <windows.h>
#endif

namespace packer {

namespace fs = std::filesystem;

namespace {

[[noreturn]] void CannotRead(const fs::path& folder) {
    throw PackError("the folder " + QuotedPath(folder) + " cannot be read");
}

} // namespace

#ifdef _WIN32

namespace {

// Symbolic links and junctions are name surrogates; other reparse points (deduplicated or cloud
// files) are what their attributes say.
PathKind KindOf(DWORD attributes, DWORD reparseTag) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsReparseTagNameSurrogate(reparseTag))
        return PathKind::link;
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return PathKind::folder;
    if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0)
        return PathKind::other;
    return PathKind::file;
}

} // namespace

PathKind KindAt(const fs::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathKind::missing
                                                                              : PathKind::other;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
        return KindOf(attributes, 0);
    // Only a directory listing tells the reparse tag without opening the file.
    WIN32_FIND_DATAW data;
    if (!UniqueFindHandle(::FindFirstFileW(path.c_str(), &data)))
        return PathKind::link; // not to be followed when it cannot be told
    return KindOf(data.dwFileAttributes, data.dwReserved0);
}

std::vector<FolderEntry> ListFolder(const fs::path& folder) {
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAW data;
    // Closed however the listing ends: CannotRead throws.
    const UniqueFindHandle find(::FindFirstFileExW((folder / L"*").c_str(), FindExInfoBasic, &data,
                                                   FindExSearchNameMatch, nullptr, 0));
    if (!find)
        CannotRead(folder);
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..")
            entries.push_back(
                {fs::path(name).u8string(), KindOf(data.dwFileAttributes, data.dwReserved0)});
    } while (::FindNextFileW(find.get(), &data));
    if (::GetLastError() != ERROR_NO_MORE_FILES)
        CannotRead(folder);
    return entries;
}

#else

namespace {

PathKind KindOf(const fs::file_status& status) {
    switch (status.type()) {
    case fs::file_type::not_found:
        return PathKind::missing;
    case fs::file_type::regular:
        return PathKind::file;
    case fs::file_type::directory:
        return PathKind::folder;
    case fs::file_type::symlink:
        return PathKind::link;
    default:
        return PathKind::other;
    }
}

} // namespace

PathKind KindAt(const fs::path& path) {
    std::error_code error;
    return KindOf(fs::symlink_status(path, error));
}

std::vector<FolderEntry> ListFolder(const fs::path& folder) {
    std::vector<FolderEntry> entries;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::error_code vanished; // read as neither a file nor a folder
        entries.push_back({it->path().filename().u8string(), KindOf(it->symlink_status(vanished))});
    }
    if (error)
        CannotRead(folder);
    return entries;
}

#endif

void SortByName(std::vector<FolderEntry>& entries) {
    std::sort(entries.begin(), entries.end(), [](const FolderEntry& a, const FolderEntry& b) {
        return std::forward_as_tuple(FoldCase(a.name), a.name) <
               std::forward_as_tuple(FoldCase(b.name), b.name);
    });
}

} // namespace packer
