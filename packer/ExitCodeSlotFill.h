// The packing tool's side of the exit-code slot: finding it in a stub by its marker, and the
// choice value it writes there and reads back.
#pragma once

#include "packer/SlotSearch.h"

#include "package/ExitCodeSlot.h"
#include "package/PackageFormat.h"

#include <cstdint>

namespace packer {

// Looks for the marker in the first `limit` bytes of `file` (the stub's image).
SlotSearch FindExitCodeSlot(package::ByteSource& file, std::uint64_t limit);

// The value recorded for `choice`.
std::uint32_t ExitCodeValue(package::ExitCodeChoice choice) noexcept;

// The value recorded in a slot's kExitCodeSlotSize bytes, which the stub reads as
// package::DecodeExitCodeSlot does.
std::uint32_t ExitCodeSlotValue(const std::uint8_t* bytes) noexcept;

} // namespace packer
