#include "packer/Reading.h"

#include "packer/EntryNames.h"
#include "packer/PackError.h"
#include "packer/SettingsRecord.h"

#include "package/PackageStream.h"

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

package::StubSettings ReadSettings(package::ByteSource& file, std::uint64_t start) {
    return FindSettingsRecord(file, start, "the stub").settings;
}

DigestStatus VerifyDigest(package::ByteSource& file, std::uint64_t start, std::uint64_t end,
                          const package::PackageDigest& vouched) {
    if (!vouched.Filled())
        return DigestStatus::empty;

    package::InlineHasher hasher;
    package::PackageStream stream(file, start, end, vouched, hasher);
    switch (stream.Finish()) {
    case package::PackageVerdict::unverified:
        return DigestStatus::empty;
    case package::PackageVerdict::matches:
        return DigestStatus::verified;
    case package::PackageVerdict::lengthDiffers:
        throw PackError("the package is " + std::to_string(end > start ? end - start : 0) +
                        " bytes long, but the stub's settings record vouches for " +
                        std::to_string(vouched.length) + ": the stub would refuse it");
    case package::PackageVerdict::digestDiffers:
        throw PackError("the package's SHA-256 differs from the digest in the stub's settings "
                        "record: the stub would refuse it");
    case package::PackageVerdict::unreadable:
        break;
    }
    throw PackError("the package could not be read to its end");
}

const char* DigestReport(DigestStatus status) {
    switch (status) {
    case DigestStatus::empty:
        return "digest empty (the stub extracts it unverified)";
    case DigestStatus::verified:
        return "digest verified";
    }
    return "";
}

std::string ExitCodeReport(const package::StubSettings& settings) {
    if (settings.exitCode == package::ExitCodeChoice::zero)
        return "exit code: zero";
    // The stub takes any value but 0 for installer; one the tool does not write is shown too.
    if (settings.exitCodeValue == package::kExitCodeInstallerValue)
        return "exit code: installer";
    return "exit code: installer (value " + std::to_string(settings.exitCodeValue) + ")";
}

std::string WaitReport(const package::StubSettings& settings) {
    return "wait for children: " + std::to_string(settings.waitChildrenSeconds) + " s";
}

bool TakesEntryPaths(const package::StubSettings& settings) {
    return (settings.features & package::kFeatureEntryPaths) != 0;
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
