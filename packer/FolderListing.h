// What lies in a folder and at a path, as the packing tool walks and writes folder trees: the one
// part of that which differs between Linux and Windows. A link (a symbolic link, or a junction on
// Windows) is reported as one and never followed.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace packer {

enum class PathKind { missing, file, folder, link, other };

struct FolderEntry {
    std::string name; // UTF-8
    PathKind kind = PathKind::other;
};

// What lies at `path`, a link there not followed.
PathKind KindAt(const std::filesystem::path& path);

// Everything in `folder` but "." and "..", in no particular order. Throws PackError when the
// folder cannot be read.
std::vector<FolderEntry> ListFolder(const std::filesystem::path& folder);

// The order the tool takes a folder's entries in, the same on every file system: by name, ASCII
// case ignored, then as spelt.
void SortByName(std::vector<FolderEntry>& entries);

} // namespace packer
