#include "packer/Extract.h"

#include "packer/EntryNames.h"
#include "packer/FileIo.h"
#include "packer/PackError.h"
#include "packer/Reading.h"

#include "package/EntryWalk.h"

#include <string>
#include <system_error>

namespace packer {

namespace fs = std::filesystem;

ExtractSummary ExtractPackage(package::ByteSource& file, const fs::path& folder, std::ostream& out,
                              std::ostream& err) {
    const package::PackageLocation location = FindPackage(file);
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
            PendingOutput output(folder / name);
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
