#include "packer/DigestSlotFill.h"

#include "package/LittleEndian.h"

#include <algorithm>
#include <vector>

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

DigestSlotSearch FindDigestSlot(package::ByteSource& file, std::uint64_t limit) {
    DigestSlotSearch search;
    limit = std::min(limit, file.Length());
    // Chunks overlap by the marker's length less one, so a marker across a boundary is found once.
    constexpr std::size_t kChunk = 64 * 1024;
    constexpr std::size_t kOverlap = kDigestSlotMarkerSize - 1;
    std::vector<std::uint8_t> chunk(kChunk + kOverlap);
    for (std::uint64_t start = 0; start < limit;) {
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), limit - start));
        const std::size_t got = file.ReadAt(start, chunk.data(), wanted);
        if (got < kDigestSlotMarkerSize)
            break;
        const auto end = chunk.begin() + static_cast<std::ptrdiff_t>(got);
        for (auto at = chunk.begin();;) {
            at = std::search(at, end, kDigestSlotMarker.begin(), kDigestSlotMarker.end());
            if (at == end)
                break;
            if (search.found++ == 0)
                search.offset = start + static_cast<std::uint64_t>(at - chunk.begin());
            ++at;
        }
        if (got < wanted || start + got >= limit)
            break;
        start += got - kOverlap;
    }
    return search;
}

} // namespace packer
