#include "packer/OptionsSlotFill.h"

namespace packer {

using package::kOptionsSlotMarker;

SlotSearch FindOptionsSlot(package::ByteSource& file, std::uint64_t limit) {
    return FindSlotMarker(file, limit, kOptionsSlotMarker.data(), kOptionsSlotMarker.size());
}

} // namespace packer
