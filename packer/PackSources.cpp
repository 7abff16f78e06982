#include "packer/PackSources.h"

#include "packer/EntryNames.h"
#include "packer/FolderListing.h"
#include "packer/PackError.h"

#include <system_error>

namespace packer {

namespace fs = std::filesystem;

namespace {

// "data" for "data/" and "in/../data", the current folder's name for ".".
std::string FolderOwnName(const fs::path& operand) {
    std::error_code error;
    fs::path path = fs::absolute(operand, error).lexically_normal();
    if (!path.has_filename())
        path = path.parent_path();
    const std::string name = path.filename().u8string();
    if (name.empty())
        throw PackError("cannot pack the folder " + QuotedPath(operand) +
                        ": it has no name of its own to store its files under");
    return name;
}

void AddFolder(const fs::path& folder, std::vector<std::string>& parts,
               std::vector<PackSource>& sources) {
    std::vector<FolderEntry> entries = ListFolder(folder);
    SortByName(entries);
    for (const FolderEntry& entry : entries) {
        const fs::path path = folder / fs::u8path(entry.name);
        parts.push_back(entry.name);
        switch (entry.kind) {
        case PathKind::file:
            sources.push_back({path, parts});
            break;
        case PathKind::folder:
            AddFolder(path, parts, sources);
            break;
        case PathKind::link:
            throw PackError("cannot pack " + QuotedPath(path) +
                            ": links inside a folder are not followed; name what it points to "
                            "on its own");
        default:
            throw PackError("cannot pack " + QuotedPath(path) +
                            ": it is neither a file nor a folder");
        }
        parts.pop_back();
    }
}

} // namespace

std::vector<PackSource> CollectSources(const std::vector<fs::path>& operands) {
    std::vector<PackSource> sources;
    for (const fs::path& operand : operands) {
        std::error_code error;
        const fs::file_status status = fs::status(operand, error);
        if (!fs::exists(status))
            throw PackError(QuotedPath(operand) + " does not exist");
        if (fs::is_directory(status)) {
            std::vector<std::string> parts = {FolderOwnName(operand)};
            AddFolder(operand, parts, sources);
        } else if (fs::is_regular_file(status)) {
            sources.push_back({operand, {operand.filename().u8string()}});
        } else {
            throw PackError(QuotedPath(operand) + " is neither a file nor a folder");
        }
    }
    return sources;
}

} // namespace packer
