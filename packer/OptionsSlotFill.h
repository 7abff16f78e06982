// The packing tool's side of the options slot: finding it in a stub by its marker. What lies
// after the marker is read and written by package/OptionsSlot.h, as the stub reads it.
#pragma once

#include "packer/SlotSearch.h"

#include "package/OptionsSlot.h"
#include "package/PackageFormat.h"

#include <cstdint>

namespace packer {

// Looks for the marker in the first `limit` bytes of `file` (the stub's image).
SlotSearch FindOptionsSlot(package::ByteSource& file, std::uint64_t limit);

} // namespace packer
