#include "package/ImageDigest.h"

#include <cstddef>

namespace package {

namespace {

struct SlotImage {
    std::uint8_t bytes[kDigestSlotSize];
};

constexpr SlotImage EmptySlot() {
    SlotImage slot{};
    for (std::size_t i = 0; i < kDigestSlotMarker.size(); ++i)
        slot.bytes[i] = kDigestSlotMarker[i];
    return slot;
}

// In a read-only section of its own, which the packing tool finds by the marker and fills in its
// copy of the image. Kept although nothing names it but the reader below.
__attribute__((section(".digest"), used)) const SlotImage g_slot = EmptySlot();

} // namespace

DigestSlot ImageDigestSlot() noexcept {
    // Read as volatile: the compiler sees an empty slot and would otherwise fold every read of it
    // into that constant, which is exactly what the packing tool changes.
    const volatile std::uint8_t* image = g_slot.bytes;
    std::uint8_t bytes[kDigestSlotSize];
    for (std::size_t i = 0; i < kDigestSlotSize; ++i)
        bytes[i] = image[i];
    return DecodeDigestSlot(bytes);
}

} // namespace package
