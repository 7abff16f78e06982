#include "packer/Reading.h"

#include "packer/EntryNames.h"
#include "packer/PackError.h"

#include <string>

namespace packer {

package::PackageLocation FindPackage(package::ByteSource& file) {
    const package::PackageLocation location = package::LocatePackage(file);
    if (!location.peHeadersRead)
        throw PackError("no package: the PE header offset lies outside the file");
    if (!location.trailerRead)
        throw PackError("no package: the file is too short for a trailer before a certificate "
                        "table of " +
                        std::to_string(location.certificateSize) + " bytes");
    if (location.headerOffset == 0)
        throw PackError("no package: the trailer's first header offset is 0");
    if (location.headerOffset >= file.Length())
        throw PackError("no package: the trailer's first header offset " +
                        std::to_string(location.headerOffset) + " lies beyond the end of the file");
    return location;
}

void RequireCompleteWalk(const package::WalkResult& result, package::ByteSource& file) {
    const std::string entry = "entry " + std::to_string(result.entries + 1);
    const std::string at = " at offset " + std::to_string(result.offset);
    const std::string length = std::to_string(file.Length());
    switch (result.end) {
    case package::WalkEnd::complete:
    case package::WalkEnd::stopped:
        return;
    case package::WalkEnd::noPackage:
        throw PackError("no package: the first header offset is 0");
    case package::WalkEnd::shortHeader:
        throw PackError(entry + ": its header" + at + " is cut off by the end of the file (" +
                        length + " bytes)");
    case package::WalkEnd::payloadPastEnd: {
        const package::EntryAt bad = package::ReadEntryAt(file, result.offset, UINT64_MAX);
        throw PackError(entry + " ('" + Printable(package::HeaderName(bad.header)) + "', " +
                        std::to_string(bad.header.size) + " bytes)" + at +
                        " runs past the end of the file (" + length + " bytes)");
    }
    }
}

} // namespace packer
