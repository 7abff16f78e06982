// Walking the entries of a package from its first header, as the stub extracts them: each
// header's count says how many entries the package holds, so the end marker and the trailer are
// never read as entries. Every header and payload is checked against the bytes really present
// before anyone uses it. The stub, the packing tool and the fuzzer all read packages this way.
#pragma once

#include "package/PackageFormat.h"

#include <cstdint>
#include <memory>
#include <type_traits>

namespace package {

enum class EntryRead {
    ok,
    endOfData,        // not one byte of the header lies before the limit
    shortHeader,      // some, but fewer than 284, bytes before the limit
    payloadPastLimit, // the header's size runs past the limit
    readFailed,       // the bytes are there, but reading them failed
};

struct EntryAt {
    EntryRead status = EntryRead::endOfData;
    PackageEntryHeader header;       // zero-filled past the bytes that could be read
    std::size_t headerBytes = 0;     // header bytes read: 284, or fewer when cut off
    std::uint64_t payloadOffset = 0; // right after the header
};

// Reads the header at `offset` and checks that it and its payload end at or before `limit` (or
// the end of the file, if that comes first): the file's length for an extractor, the end marker's
// offset for a strict checker. A header cut off by the limit is decoded from the bytes present.
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
    endOfData,      // the file ends where the next header should start
    shortHeader,    // a header the count announces is cut off by the end of the file
    payloadPastEnd, // an entry's size runs past the end of the file
    readFailed,     // a header could not be read although its bytes are there
    stopped,        // the visitor asked to stop
};

struct WalkResult {
    WalkEnd end = WalkEnd::noPackage;
    std::int32_t entries = 0; // entries handed to the visitor
    std::uint64_t offset = 0; // the header where the walk ended, or just past the last payload
    EntryAt last;             // the header read last (where the walk ended, unless complete)
};

// A non-owning reference to the caller's visitor, so that the walk needs no std::function.
// Returning false stops the walk.
class EntryVisitor {
public:
    template <typename Visit,
              typename = std::enable_if_t<!std::is_same_v<std::decay_t<Visit>, EntryVisitor>>>
    EntryVisitor(Visit&& visit) noexcept // NOLINT: converts from any callable, as a lambda
        : object_(const_cast<void*>(static_cast<const void*>(std::addressof(visit)))),
          call_([](void* object, const Entry& entry) -> bool {
              return (*static_cast<std::remove_reference_t<Visit>*>(object))(entry);
          }) {}

    bool operator()(const Entry& entry) const { return call_(object_, entry); }

private:
    void* object_;
    bool (*call_)(void*, const Entry&);
};

WalkResult WalkEntries(ByteSource& file, std::uint64_t firstHeaderOffset, EntryVisitor visit);

} // namespace package
