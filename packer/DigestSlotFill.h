// The packing tool's side of the digest slot: finding it in a stub by its marker, and the bytes it
// writes there.
#pragma once

#include "packer/SlotSearch.h"

#include "package/DigestSlot.h"
#include "package/PackageFormat.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace packer {

using DigestSlotBytes = std::array<std::uint8_t, package::kDigestSlotSize>;

// The slot's bytes, marker included.
DigestSlotBytes EncodeDigestSlot(const package::DigestSlot& slot) noexcept;

// Looks for the marker in the first `limit` bytes of `file` (the stub's image).
SlotSearch FindDigestSlot(package::ByteSource& file, std::uint64_t limit);

} // namespace packer
