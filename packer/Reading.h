// What listing, checking and extracting share: finding the first header of a built stub, signed or
// not, its settings record as the stub reads it, and explaining in one line why a walk over its
// entries ended early.
#pragma once

#include "package/EntryWalk.h"
#include "package/PackageFormat.h"
#include "package/StubSettings.h"

#include <cstdint>
#include <string>

namespace packer {

// The located package; throws PackError when the file holds none.
package::PackageLocation FindPackage(package::ByteSource& file);

// The image's settings record before `start` (the first header), as the stub reads it; throws
// PackError when the image holds none, more than one, one that runs into the package, or one this
// tool does not read.
package::StubSettings ReadSettings(package::ByteSource& file, std::uint64_t start);

enum class DigestStatus {
    empty,    // the digest was never filled: the stub extracts any package, unverified
    verified, // the package is the one the digest vouches for
};

// Holds the package from `start` (the first header) to `end` (the end of the trailer) against
// `vouched`, the digest in the image before it; throws PackError when they differ.
DigestStatus VerifyDigest(package::ByteSource& file, std::uint64_t start, std::uint64_t end,
                          const package::PackageDigest& vouched);

// How list and check report the digest, after the layout's summary.
const char* DigestReport(DigestStatus status);

// How list and check report the exit-code choice, after the digest.
std::string ExitCodeReport(const package::StubSettings& settings);

// How list and check report the wait for children, after the exit-code choice.
std::string WaitReport(const package::StubSettings& settings);

// Whether the stub takes entry names that are paths ("data\\a.cab").
bool TakesEntryPaths(const package::StubSettings& settings);

// Throws PackError unless the walk visited every entry the counts announce.
void RequireCompleteWalk(const package::WalkResult& result, package::ByteSource& file);

} // namespace packer
