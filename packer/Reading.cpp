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
    case package::WalkEnd::endOfData:
    case package::WalkEnd::shortHeader:
        throw PackError(entry + ": its header" + at + " is cut off by the end of the file (" +
                        length + " bytes)");
    case package::WalkEnd::payloadPastEnd: {
        const package::PackageEntryHeader& bad = result.last.header;
        throw PackError(entry + " ('" + Printable(package::HeaderName(bad)) + "', " +
                        std::to_string(bad.size) + " bytes)" + at +
                        " runs past the end of the file (" + length + " bytes)");
    }
    case package::WalkEnd::readFailed:
        throw PackError(entry + ": its header" + at + " could not be read");
    }
}

} // namespace packer
