#include "packer/DigestSlotFill.h"

#include "package/LittleEndian.h"

#include <algorithm>

namespace packer {

using package::kDigestSlotMarker;
using package::kDigestSlotMarkerSize;

DigestSlotBytes EncodeDigestSlot(const package::DigestSlot& slot) noexcept {
    DigestSlotBytes bytes{};
    std::copy(kDigestSlotMarker.begin(), kDigestSlotMarker.end(), bytes.begin());
    package::Put64(bytes.data() + kDigestSlotMarkerSize, slot.length);
    std::copy(slot.digest.begin(), slot.digest.end(), bytes.begin() + kDigestSlotMarkerSize + 8);
    return bytes;
}

SlotSearch FindDigestSlot(package::ByteSource& file, std::uint64_t limit) {
    return FindSlotMarker(file, limit, kDigestSlotMarker.data(), kDigestSlotMarker.size());
}

} // namespace packer
