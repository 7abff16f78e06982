// Walking the entries of a package from its first header, as the stub extracts them: each
// header's count says how many entries the package holds, so the end marker and the trailer are
// never read as entries. Every header and payload is checked against the bytes really present
// before anyone uses it.
#pragma once

#include "package/PackageFormat.h"

#include <cstdint>
#include <functional>

namespace package {

enum class EntryRead {
    ok,
    shortHeader,      // fewer than 284 bytes before the limit
    payloadPastLimit, // the header's size runs past the limit
};

struct EntryAt {
    EntryRead status = EntryRead::shortHeader;
    PackageEntryHeader header;       // zero-filled when the header could not be read
    std::uint64_t payloadOffset = 0; // right after the header
};

// Reads the header at `offset` and checks that it and its payload end at or before `limit`: the
// file's length for an extractor, the end marker's offset for a strict checker.
EntryAt ReadEntryAt(ByteSource& file, std::uint64_t offset, std::uint64_t limit);

struct Entry {
    std::int32_t index = 0; // 1 for the first entry
    PackageEntryHeader header;
    std::uint64_t headerOffset = 0;
    std::uint64_t payloadOffset = 0;
};

enum class WalkEnd {
    complete,       // every entry the counts announce was visited (none when count <= 0)
    noPackage,      // the first header offset is 0
    shortHeader,    // a header the count announces is cut off by the end of the file
    payloadPastEnd, // an entry's size runs past the end of the file
    stopped,        // the visitor asked to stop
};

struct WalkResult {
    WalkEnd end = WalkEnd::noPackage;
    std::int32_t entries = 0; // entries handed to the visitor
    std::uint64_t offset = 0; // the header where the walk ended, or just past the last payload
};

// Returns false to stop the walk.
using EntryVisitor = std::function<bool(const Entry&)>;

WalkResult WalkEntries(ByteSource& file, std::uint64_t firstHeaderOffset,
                       const EntryVisitor& visit);

} // namespace package
