#include "packer/Reading.h"

#include "packer/DigestSlotFill.h"
#include "packer/EntryNames.h"
#include "packer/ExitCodeSlotFill.h"
#include "packer/OptionsSlotFill.h"
#include "packer/PackError.h"

#include "package/DigestSlot.h"
#include "package/ExitCodeSlot.h"
#include "package/OptionsSlot.h"
#include "package/PackageStream.h"

#include <string>

namespace packer {

namespace {

// Reads the one slot `search` found in the image before `start` into `bytes`; false when the
// image has none.
bool ReadOneSlot(package::ByteSource& file, std::uint64_t start, const SlotSearch& search,
                 const std::string& what, std::uint8_t* bytes, std::size_t size) {
    if (search.found == 0)
        return false;
    if (search.found > 1)
        throw PackError("the image holds " + std::to_string(search.found) + " " + what +
                        " markers, so the slot the stub reads cannot be told");
    if (file.ReadAt(search.offset, bytes, size) != size || search.offset + size > start)
        throw PackError("the " + what + " at offset " + std::to_string(search.offset) +
                        " is cut off by the package");
    return true;
}

} // namespace

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

DigestStatus VerifyDigest(package::ByteSource& file, std::uint64_t start, std::uint64_t end) {
    DigestSlotBytes bytes{};
    if (!ReadOneSlot(file, start, FindDigestSlot(file, start), "digest slot", bytes.data(),
                     bytes.size()))
        return DigestStatus::noSlot;
    const package::DigestSlot slot = package::DecodeDigestSlot(bytes.data());
    if (!slot.Filled())
        return DigestStatus::empty;

    package::InlineHasher hasher;
    package::PackageStream stream(file, start, end, slot, hasher);
    switch (stream.Finish()) {
    case package::PackageVerdict::unverified:
        return DigestStatus::empty;
    case package::PackageVerdict::matches:
        return DigestStatus::verified;
    case package::PackageVerdict::lengthDiffers:
        throw PackError("the package is " + std::to_string(end > start ? end - start : 0) +
                        " bytes long, but the stub's digest slot vouches for " +
                        std::to_string(slot.length) + ": the stub would refuse it");
    case package::PackageVerdict::digestDiffers:
        throw PackError("the package's SHA-256 differs from the stub's digest slot: the stub "
                        "would refuse it");
    case package::PackageVerdict::unreadable:
        break;
    }
    throw PackError("the package could not be read to its end");
}

const char* DigestReport(DigestStatus status) {
    switch (status) {
    case DigestStatus::noSlot:
        return "no digest slot";
    case DigestStatus::empty:
        return "digest slot empty (the stub extracts it unverified)";
    case DigestStatus::verified:
        return "digest verified";
    }
    return "";
}

ExitCodeStatus ReadExitCodeSlot(package::ByteSource& file, std::uint64_t start) {
    ExitCodeStatus status;
    std::uint8_t bytes[package::kExitCodeSlotSize] = {};
    if (!ReadOneSlot(file, start, FindExitCodeSlot(file, start), "exit-code slot", bytes,
                     sizeof bytes))
        return status;
    status.slot = true;
    status.choice = package::DecodeExitCodeSlot(bytes);
    status.value = ExitCodeSlotValue(bytes);
    return status;
}

std::string ExitCodeReport(const ExitCodeStatus& status) {
    if (!status.slot)
        return "no exit-code slot";
    if (status.choice == package::ExitCodeChoice::zero)
        return "exit code: zero";
    // The stub takes any value but 0 for installer; one the tool does not write is shown too.
    if (status.value == package::kExitCodeInstallerValue)
        return "exit code: installer";
    return "exit code: installer (value " + std::to_string(status.value) + ")";
}

OptionsStatus ReadOptionsSlot(package::ByteSource& file, std::uint64_t start) {
    OptionsStatus status;
    std::uint8_t bytes[package::kOptionsSlotSize] = {};
    if (!ReadOneSlot(file, start, FindOptionsSlot(file, start), "options slot", bytes,
                     sizeof bytes))
        return status;
    status.slot = true;
    status.options = package::DecodeOptionsSlot(bytes);
    return status;
}

std::string OptionsReport(const OptionsStatus& status) {
    if (!status.slot)
        return "no options slot";
    return "wait for children: " + std::to_string(status.options.waitChildrenSeconds) + " s";
}

bool TakesEntryPaths(const OptionsStatus& status) {
    return status.slot && (status.options.features & package::kFeatureEntryPaths) != 0;
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
