#include "package/ImageDigest.h"

#include <cstddef>

namespace package {

namespace {

template <std::size_t size> struct SlotImage { std::uint8_t bytes[size]; };

// The marker, then zeros: the slot as no tool has filled it.
template <std::size_t size, std::size_t markerSize>
constexpr SlotImage<size> EmptySlot(const std::array<std::uint8_t, markerSize>& marker) {
    SlotImage<size> slot{};
    for (std::size_t i = 0; i < markerSize; ++i)
        slot.bytes[i] = marker[i];
    return slot;
}

// In a read-only section of their own, which the packing tool finds by their markers and fills in
// its copy of the image. Kept although nothing names them but the readers below.
__attribute__((section(".digest"), used)) const SlotImage<kDigestSlotSize> g_slot =
    EmptySlot<kDigestSlotSize>(kDigestSlotMarker);
__attribute__((section(".digest"), used)) const SlotImage<kExitCodeSlotSize> g_exitCodeSlot =
    EmptySlot<kExitCodeSlotSize>(kExitCodeSlotMarker);

// Read as volatile: the compiler sees an empty slot and would otherwise fold every read of it
// into that constant, which is exactly what the packing tool changes.
template <std::size_t size>
void ReadSlot(const SlotImage<size>& slot, std::uint8_t (&bytes)[size]) noexcept {
    const volatile std::uint8_t* image = slot.bytes;
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = image[i];
}

} // namespace

DigestSlot ImageDigestSlot() noexcept {
    std::uint8_t bytes[kDigestSlotSize];
    ReadSlot(g_slot, bytes);
    return DecodeDigestSlot(bytes);
}

ExitCodeChoice ImageExitCodeChoice() noexcept {
    std::uint8_t bytes[kExitCodeSlotSize];
    ReadSlot(g_exitCodeSlot, bytes);
    return DecodeExitCodeSlot(bytes);
}

} // namespace package
