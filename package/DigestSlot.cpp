#include "package/DigestSlot.h"

#include "package/LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace package {

bool DigestSlot::Filled() const noexcept {
    return length != 0 ||
           std::any_of(digest.begin(), digest.end(), [](std::uint8_t byte) { return byte != 0; });
}

DigestSlot DecodeDigestSlot(const std::uint8_t* bytes) noexcept {
    DigestSlot slot;
    slot.length = Get64(bytes + kDigestSlotMarkerSize);
    std::memcpy(slot.digest.data(), bytes + kDigestSlotMarkerSize + 8, slot.digest.size());
    return slot;
}

} // namespace package
