// What listing, checking and extracting share: finding the first header of a built stub, signed or
// not, its slots as the stub reads them, and explaining in one line why a walk over its entries
// ended early.
#pragma once

#include "package/EntryWalk.h"
#include "package/ExitCodeSlot.h"
#include "package/OptionsSlot.h"
#include "package/PackageFormat.h"

#include <cstdint>
#include <string>

namespace packer {

// The located package; throws PackError when the file holds none.
package::PackageLocation FindPackage(package::ByteSource& file);

enum class DigestStatus {
    noSlot,   // the image has no digest slot (a stub older than the slot)
    empty,    // the slot was never filled: the stub extracts any package, unverified
    verified, // the package is the one the slot vouches for
};

// Holds the package from `start` (the first header) to `end` (the end of the trailer) against
// the digest slot in the image before it; throws PackError when they differ.
DigestStatus VerifyDigest(package::ByteSource& file, std::uint64_t start, std::uint64_t end);

// How list and check report the digest, after the layout's summary.
const char* DigestReport(DigestStatus status);

// The image's exit-code slot, as the stub reads it.
struct ExitCodeStatus {
    bool slot = false; // false: a stub older than the slot, which always exits 0
    package::ExitCodeChoice choice = package::ExitCodeChoice::zero;
    std::uint32_t value = 0; // as recorded
};

// Reads the exit-code slot in the image before `start` (the first header); throws PackError when
// the image holds more than one or the slot runs into the package.
ExitCodeStatus ReadExitCodeSlot(package::ByteSource& file, std::uint64_t start);

// How list and check report the choice, after the digest.
std::string ExitCodeReport(const ExitCodeStatus& status);

// The image's options slot, as the stub reads it.
struct OptionsStatus {
    bool slot = false; // false: a stub older than the slot, which waits for the installer's own
                       // process only and takes plain names only
    package::StubOptions options;
};

// Reads the options slot in the image before `start` (the first header); throws PackError when
// the image holds more than one or the slot runs into the package.
OptionsStatus ReadOptionsSlot(package::ByteSource& file, std::uint64_t start);

// How list and check report the options, after the exit-code choice.
std::string OptionsReport(const OptionsStatus& status);

// Whether the stub takes entry names that are paths ("data\\a.cab").
bool TakesEntryPaths(const OptionsStatus& status);

// Throws PackError unless the walk visited every entry the counts announce.
void RequireCompleteWalk(const package::WalkResult& result, package::ByteSource& file);

} // namespace packer
