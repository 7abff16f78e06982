#include "packer/ExitCodeSlotFill.h"

#include "package/LittleEndian.h"

namespace packer {

using package::kExitCodeSlotMarker;

SlotSearch FindExitCodeSlot(package::ByteSource& file, std::uint64_t limit) {
    return FindSlotMarker(file, limit, kExitCodeSlotMarker.data(), kExitCodeSlotMarker.size());
}

std::uint32_t ExitCodeValue(package::ExitCodeChoice choice) noexcept {
    return choice == package::ExitCodeChoice::installer ? package::kExitCodeInstallerValue : 0;
}

std::uint32_t ExitCodeSlotValue(const std::uint8_t* bytes) noexcept {
    return package::Get32(bytes + package::kExitCodeSlotMarkerSize);
}

} // namespace packer
