// The packing tool's side of the digest slot: finding it in a stub by its marker, and the bytes it
// writes there.
#pragma once

#include "package/DigestSlot.h"
#include "package/PackageFormat.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace packer {

using DigestSlotBytes = std::array<std::uint8_t, package::kDigestSlotSize>;

// The slot's bytes, marker included.
DigestSlotBytes EncodeDigestSlot(const package::DigestSlot& slot) noexcept;

struct DigestSlotSearch {
    std::size_t found = 0;    // how many markers lie in the range searched
    std::uint64_t offset = 0; // the first one's (the slot's start)
};

// Looks for the marker in the first `limit` bytes of `file` (the stub's image).
DigestSlotSearch FindDigestSlot(package::ByteSource& file, std::uint64_t limit);

} // namespace packer
