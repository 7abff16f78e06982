#include "package/EntryWalk.h"

namespace package {

EntryAt ReadEntryAt(ByteSource& file, std::uint64_t offset, std::uint64_t limit) {
    EntryAt entry;
    if (offset > limit || limit - offset < kHeaderSize)
        return entry;
    std::uint8_t bytes[kHeaderSize];
    if (file.ReadAt(offset, bytes, sizeof bytes) != kHeaderSize)
        return entry;
    entry.header = DecodeHeader(bytes);
    entry.payloadOffset = offset + kHeaderSize;
    entry.status = PayloadFits(entry.payloadOffset, entry.header.size, limit)
                       ? EntryRead::ok
                       : EntryRead::payloadPastLimit;
    return entry;
}

WalkResult WalkEntries(ByteSource& file, std::uint64_t firstHeaderOffset,
                       const EntryVisitor& visit) {
    WalkResult result;
    if (firstHeaderOffset == 0)
        return result;
    const std::uint64_t length = file.Length();
    std::uint64_t offset = firstHeaderOffset;
    for (;;) {
        result.offset = offset;
        const EntryAt at = ReadEntryAt(file, offset, length);
        if (at.status == EntryRead::shortHeader) {
            result.end = WalkEnd::shortHeader;
            return result;
        }
        // The count is taken from every header, as the stub does; 0 or negative means none.
        if (result.entries >= at.header.count)
            break;
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
