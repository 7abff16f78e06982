#include "package/OptionsSlot.h"

#include "package/LittleEndian.h"

namespace package {

StubOptions DecodeOptionsSlot(const std::uint8_t* bytes) noexcept {
    StubOptions options;
    const std::uint32_t wait = Get32(bytes + kOptionsSlotMarkerSize);
    options.waitChildrenSeconds = wait > kMaxWaitChildrenSeconds ? kMaxWaitChildrenSeconds : wait;
    options.features = Get32(bytes + kOptionsSlotMarkerSize + 4);
    return options;
}

void EncodeOptionsSlot(const StubOptions& options, std::uint8_t* bytes) noexcept {
    Put32(bytes + kOptionsSlotMarkerSize, options.waitChildrenSeconds);
    Put32(bytes + kOptionsSlotMarkerSize + 4, options.features);
}

} // namespace package
