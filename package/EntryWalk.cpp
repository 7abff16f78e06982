#include "package/EntryWalk.h"

#include <algorithm>

namespace package {

EntryAt ReadEntryAt(ByteSource& file, std::uint64_t offset, std::uint64_t limit) {
    EntryAt entry;
    limit = std::min(limit, file.Length());
    if (offset >= limit)
        return entry;
    const std::size_t present =
        static_cast<std::size_t>(std::min<std::uint64_t>(limit - offset, kHeaderSize));
    std::uint8_t bytes[kHeaderSize] = {};
    entry.headerBytes = file.ReadAt(offset, bytes, present);
    entry.header = DecodeHeader(bytes);
    if (entry.headerBytes != present) {
        entry.status = EntryRead::readFailed;
        return entry;
    }
    if (present < kHeaderSize) {
        entry.status = EntryRead::shortHeader;
        return entry;
    }
    entry.payloadOffset = offset + kHeaderSize;
    entry.status = PayloadFits(entry.payloadOffset, entry.header.size, limit)
                       ? EntryRead::ok
                       : EntryRead::payloadPastLimit;
    return entry;
}

WalkResult WalkEntries(ByteSource& file, std::uint64_t firstHeaderOffset, EntryVisitor visit) {
    WalkResult result;
    if (firstHeaderOffset == 0)
        return result;
    const std::uint64_t length = file.Length();
    std::uint64_t offset = firstHeaderOffset;
    for (;;) {
        result.offset = offset;
        result.last = ReadEntryAt(file, offset, length);
        const EntryAt& at = result.last;
        if (at.status == EntryRead::readFailed) {
            result.end = WalkEnd::readFailed;
            return result;
        }
        if (at.status == EntryRead::endOfData) {
            result.end = WalkEnd::endOfData;
            return result;
        }
        // The count is taken from every header, even one cut off, as the stub reads it; 0 or
        // negative means none.
        if (result.entries >= at.header.count)
            break;
        if (at.status == EntryRead::shortHeader) {
            result.end = WalkEnd::shortHeader;
            return result;
        }
        if (at.status == EntryRead::payloadPastLimit) {
            result.end = WalkEnd::payloadPastEnd;
            return result;
        }
        Entry entry;
        entry.index = ++result.entries;
        entry.header = at.header;
        entry.headerOffset = offset;
        entry.payloadOffset = at.payloadOffset;
        offset = at.payloadOffset + at.header.size;
        if (!visit(entry)) {
            result.end = WalkEnd::stopped;
            result.offset = offset;
            return result;
        }
        if (result.entries == at.header.count) {
            result.offset = offset;
            break;
        }
    }
    result.end = WalkEnd::complete;
    return result;
}

} // namespace package
