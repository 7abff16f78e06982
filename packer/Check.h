// Validating a built stub, signed or not, against the layout the stub and signing rely on:
// image, entries, end marker, trailer and certificate table back to back, image plus package a
// multiple of 8 bytes, every header consistent with its neighbours, every compressed payload
// decoding to exactly its original size, and the package the one the
// digest in the image's settings record vouches for, when it is filled; names the stub extracts,
// each where it alone is written, and in folders only for a stub that takes them. The rest of the
// settings is read on the way.
#pragma once

#include "packer/Reading.h"

#include "package/PackageFormat.h"
#include "package/PayloadHeader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace packer {

struct CheckedEntry {
    std::string name;
    std::uint64_t size = 0;         // in the package, its payload header included
    std::uint64_t originalSize = 0; // once extracted
    package::PayloadMethod method = package::PayloadMethod::stored;
};

struct CheckSummary {
    std::uint64_t imageSize = 0;
    std::int32_t entries = 0;
    std::uint64_t payloadBytes = 0;  // in the package
    std::uint64_t originalBytes = 0; // once extracted
    std::vector<CheckedEntry> list;
    std::int32_t certificateSize = 0; // 0 when unsigned
    bool pe32Plus = false;
    DigestStatus digest = DigestStatus::empty;
    package::StubSettings settings;
};

// Throws PackError with the first problem found, in one line.
CheckSummary CheckPackage(package::ByteSource& file);

} // namespace packer
