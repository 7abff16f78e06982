#include "packer/SlotSearch.h"

#include <algorithm>
#include <vector>

namespace packer {

SlotSearch FindSlotMarker(package::ByteSource& file, std::uint64_t limit,
                          const std::uint8_t* marker, std::size_t markerSize) {
    SlotSearch search;
    limit = std::min(limit, file.Length());
    // Chunks overlap by the marker's length less one, so a marker across a boundary is found once.
    constexpr std::size_t kChunk = 64 * 1024;
    const std::size_t overlap = markerSize - 1;
    std::vector<std::uint8_t> chunk(kChunk + overlap);
    for (std::uint64_t start = 0; start < limit;) {
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), limit - start));
        const std::size_t got = file.ReadAt(start, chunk.data(), wanted);
        if (got < markerSize)
            break;
        const auto end = chunk.begin() + static_cast<std::ptrdiff_t>(got);
        for (auto at = chunk.begin();;) {
            at = std::search(at, end, marker, marker + markerSize);
            if (at == end)
                break;
            if (search.found++ == 0)
                search.offset = start + static_cast<std::uint64_t>(at - chunk.begin());
            ++at;
        }
        if (got < wanted || start + got >= limit)
            break;
        start += got - overlap;
    }
    return search;
}

} // namespace packer
