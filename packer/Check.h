// Validating a built stub, signed or not, against the layout the stub and signing rely on:
// image, entries, end marker, trailer and certificate table back to back, image plus package a
// multiple of 8 bytes, every header consistent with its neighbours, and the package the one the
// image's digest slot vouches for, when the slot is filled. The exit-code slot's choice is read
// on the way.
#pragma once

#include "packer/Reading.h"

#include "package/PackageFormat.h"

#include <cstdint>

namespace packer {

struct CheckSummary {
    std::uint64_t imageSize = 0;
    std::int32_t entries = 0;
    std::uint64_t payloadBytes = 0;
    std::int32_t certificateSize = 0; // 0 when unsigned
    bool pe32Plus = false;
    DigestStatus digest = DigestStatus::noSlot;
    ExitCodeStatus exitCode;
};

// Throws PackError with the first problem found, in one line.
CheckSummary CheckPackage(package::ByteSource& file);

} // namespace packer
