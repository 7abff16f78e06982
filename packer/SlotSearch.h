// Finding a slot in a stub by its marker, without knowing how the stub was linked.
#pragma once

#include "package/PackageFormat.h"

#include <cstddef>
#include <cstdint>

namespace packer {

struct SlotSearch {
    std::size_t found = 0;    // how many markers lie in the range searched
    std::uint64_t offset = 0; // the first one's (the slot's start)
};

// Looks for the `markerSize` bytes at `marker` in the first `limit` bytes of `file` (the stub's
// image).
SlotSearch FindSlotMarker(package::ByteSource& file, std::uint64_t limit,
                          const std::uint8_t* marker, std::size_t markerSize);

} // namespace packer
