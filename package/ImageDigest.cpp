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

// The default wait and what this stub can do, little-endian after the marker.
constexpr SlotImage<kOptionsSlotSize> BuiltOptionsSlot() {
    SlotImage<kOptionsSlotSize> slot = EmptySlot<kOptionsSlotSize>(kOptionsSlotMarker);
    for (std::size_t i = 0; i < 4; ++i) {
        slot.bytes[kOptionsSlotMarkerSize + i] =
            static_cast<std::uint8_t>(kDefaultWaitChildrenSeconds >> (8 * i));
        slot.bytes[kOptionsSlotMarkerSize + 4 + i] =
            static_cast<std::uint8_t>(kStubFeatures >> (8 * i));
    }
    return slot;
}
__attribute__((section(".digest"), used)) const SlotImage<kOptionsSlotSize> g_optionsSlot =
    BuiltOptionsSlot();

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

StubOptions ImageStubOptions() noexcept {
    std::uint8_t bytes[kOptionsSlotSize];
    ReadSlot(g_optionsSlot, bytes);
    return DecodeOptionsSlot(bytes);
}

} // namespace package
