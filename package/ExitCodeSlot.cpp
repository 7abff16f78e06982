#include "package/ExitCodeSlot.h"

#include "package/LittleEndian.h"

namespace package {

ExitCodeChoice DecodeExitCodeSlot(const std::uint8_t* bytes) noexcept {
    return Get32(bytes + kExitCodeSlotMarkerSize) == 0 ? ExitCodeChoice::zero
                                                       : ExitCodeChoice::installer;
}

} // namespace package
