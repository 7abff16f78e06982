#include "packer/Extract.h"

#include "packer/EntryNames.h"
#include "packer/FileIo.h"
#include "packer/FolderListing.h"
#include "packer/NameClashes.h"
#include "packer/PackError.h"
#include "packer/Payloads.h"
#include "packer/Reading.h"

#include "package/EntryName.h"
#include "package/EntryWalk.h"

#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace packer {

namespace fs = std::filesystem;

namespace {

// The first `count` parts of a stored name, as a path inside `folder`.
fs::path PathIn(const fs::path& folder, const std::vector<std::string>& parts, std::size_t count) {
    fs::path path = folder;
    for (std::size_t i = 0; i < count; ++i)
        path /= fs::u8path(parts[i]);
    return path;
}

// The entry's folders below `folder` are folders or not there yet: never a link, which would
// lead the file somewhere else, and never a file, which is not replaced by a folder. Named apart
// from `folder`, the message reads the same from the Windows tool.
void RequireFoldersWritable(const fs::path& folder, const std::vector<std::string>& parts) {
    for (std::size_t count = 1; count < parts.size(); ++count) {
        const PathKind kind = KindAt(PathIn(folder, parts, count));
        const std::string shown = "'" + JoinEntryPath({parts.begin(), parts.begin() + count}) +
                                  "' in " + QuotedPath(folder);
        if (kind == PathKind::link)
            throw PackError(shown + " is a link; nothing is written through one");
        if (kind != PathKind::missing && kind != PathKind::folder)
            throw PackError(shown + " is not a folder, so '" + JoinEntryPath(parts) +
                            "' cannot be written");
    }
}

// Walks the entries once before anything is written, so that a refusal leaves the folder as it
// was. Entries that extraction skips are skipped here too.
void CheckTargets(package::ByteSource& file, std::uint64_t headerOffset, NameText text,
                  const fs::path& folder, Existing existing) {
    StoredNames names;
    package::WalkEntries(file, headerOffset, [&](const package::Entry& entry) {
        const std::string name = package::HeaderName(entry.header);
        if (!EntryPathProblem(name, text).empty())
            return true;
        const std::vector<std::string> parts = package::SplitEntryPath(name);
        const std::optional<NameClash> clash =
            names.Add(parts, static_cast<std::size_t>(entry.index));
        if (clash) {
            const std::string both = "entries " + std::to_string(clash->earlier) + " '" +
                                     clash->earlierName + "' and " + std::to_string(entry.index) +
                                     " '" + name + "'";
            if (!clash->sameFile)
                throw PackError(both + " need '" + clash->path + "' as a file and as a folder");
            if (existing == Existing::refuse)
                throw PackError(both + " name the same file when case is ignored; give --force "
                                       "to let the later replace the earlier");
        }
        RequireFoldersWritable(folder, parts);
        if (existing == Existing::refuse &&
            KindAt(PathIn(folder, parts, parts.size())) != PathKind::missing)
            throw PackError("'" + name + "' already exists in " + QuotedPath(folder) +
                            "; give --force to replace it");
        return true;
    });
}

// Creates the entry's folders below `folder` that are not there yet, checking each again right
// before the file is written.
void MakeFolders(const fs::path& folder, const std::vector<std::string>& parts) {
    RequireFoldersWritable(folder, parts);
    for (std::size_t count = 1; count < parts.size(); ++count) {
        const fs::path path = PathIn(folder, parts, count);
        std::error_code error;
        if (!fs::create_directory(path, error) && KindAt(path) != PathKind::folder)
            throw PackError("cannot create the folder '" +
                            JoinEntryPath({parts.begin(), parts.begin() + count}) + "' in " +
                            QuotedPath(folder));
    }
}

// How the package's payloads and names are read; stored and as ANSI text when the stub's settings
// cannot be read, so that only ASCII names are written then.
package::StubSettings SettingsRead(package::ByteSource& file, std::uint64_t headerOffset) {
    try {
        return ReadSettings(file, headerOffset);
    } catch (const PackError&) {
        return package::StubSettings{}; // no options: stored payloads, ANSI names
    }
}

} // namespace

ExtractSummary ExtractPackage(package::ByteSource& file, const fs::path& folder, Existing existing,
                              std::ostream& out, std::ostream& err) {
    const package::PackageLocation location = FindPackage(file);
    const package::StubSettings settings = SettingsRead(file, location.headerOffset);
    const std::uint32_t options = settings.options;
    const NameText text = NameTextOf(settings);
    CheckTargets(file, location.headerOffset, text, folder, existing);
    std::error_code error;
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder))
        throw PackError(QuotedPath(folder) + " is not a folder that can be created");

    ExtractSummary summary;
    const package::WalkResult result =
        package::WalkEntries(file, location.headerOffset, [&](const package::Entry& entry) {
            const std::string name = package::HeaderName(entry.header);
            const std::string problem = EntryPathProblem(name, text);
            if (!problem.empty()) {
                err << "skipped entry " << entry.index << " '" << ShownName(name, text)
                    << "': " << problem << '\n';
                ++summary.skipped;
                return true;
            }
            const std::string what = "entry " + std::to_string(entry.index);
            const PayloadView payload = ViewPayload(file, entry, options, what);
            const std::vector<std::string> parts = package::SplitEntryPath(name);
            MakeFolders(folder, parts);
            PendingOutput output(PathIn(folder, parts, parts.size()), existing);
            ReadOriginal(
                file, payload,
                [&](const std::uint8_t* data, std::size_t size) { output.Write(data, size); },
                what);
            output.Commit();
            out << entry.index << '\t' << ShownName(name) << '\t' << payload.originalSize << '\n';
            ++summary.written;
            return true;
        });
    RequireCompleteWalk(result, file);
    return summary;
}

} // namespace packer
