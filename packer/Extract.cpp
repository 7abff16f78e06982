#include "packer/Extract.h"

#include "packer/EntryNames.h"
#include "packer/FileIo.h"
#include "packer/PackError.h"
#include "packer/Reading.h"

#include "package/EntryWalk.h"

#include <map>
#include <string>
#include <system_error>

namespace packer {

namespace fs = std::filesystem;

namespace {

// Walks the entries once before anything is written, so that a refusal leaves the folder as it
// was. Entries that extraction skips are skipped here too.
void RequireNothingReplaced(package::ByteSource& file, std::uint64_t headerOffset,
                            const fs::path& folder) {
    std::map<std::string, package::Entry> named; // folded name -> the first entry of that name
    package::WalkEntries(file, headerOffset, [&](const package::Entry& entry) {
        const std::string name = package::HeaderName(entry.header);
        if (!NameProblem(name).empty())
            return true;
        const auto [first, added] = named.emplace(FoldCase(name), entry);
        if (!added)
            throw PackError("entries " + std::to_string(first->second.index) + " '" +
                            package::HeaderName(first->second.header) + "' and " +
                            std::to_string(entry.index) + " '" + name +
                            "' name the same file when case is ignored; give --force to let the "
                            "later replace the earlier");
        // Named apart from the folder, the message reads the same from the Windows tool.
        std::error_code error;
        if (fs::exists(fs::symlink_status(folder / name, error)))
            throw PackError("'" + name + "' already exists in " + QuotedPath(folder) +
                            "; give --force to replace it");
        return true;
    });
}

} // namespace

ExtractSummary ExtractPackage(package::ByteSource& file, const fs::path& folder, Existing existing,
                              std::ostream& out, std::ostream& err) {
    const package::PackageLocation location = FindPackage(file);
    if (existing == Existing::refuse)
        RequireNothingReplaced(file, location.headerOffset, folder);
    std::error_code error;
    fs::create_directories(folder, error);
    if (!fs::is_directory(folder))
        throw PackError(QuotedPath(folder) + " is not a folder that can be created");

    ExtractSummary summary;
    const package::WalkResult result =
        package::WalkEntries(file, location.headerOffset, [&](const package::Entry& entry) {
            const std::string name = package::HeaderName(entry.header);
            const std::string problem = NameProblem(name);
            if (!problem.empty()) {
                err << "skipped entry " << entry.index << " '" << Printable(name)
                    << "': " << problem << '\n';
                ++summary.skipped;
                return true;
            }
            PendingOutput output(folder / name, existing);
            CopyRange(file, entry.payloadOffset, entry.header.size, output,
                      "entry " + std::to_string(entry.index));
            output.Commit();
            out << entry.index << '\t' << name << '\t' << entry.header.size << '\n';
            ++summary.written;
            return true;
        });
    RequireCompleteWalk(result, file);
    return summary;
}

} // namespace packer
