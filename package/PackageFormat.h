// The package appended to the stub's image, and how a reader finds it from the end of the file:
//
//   [stub image, S bytes][header + payload]...[8 x 0xFF][trailer, 284 bytes][certificate table]
//
// All integers are little-endian. The trailer is a header describing the stub itself: count 0,
// ordinal 1, size and running total S, the stub's file name. The certificate table that signing
// appends is C bytes, C being the size of the PE security directory (0 when unsigned).
//
// This is shared by the stub, the packing tool and the fuzzer; it needs no Windows.
#pragma once

// The names stored in the headers follow the entry name rule; the stub asks it of each.
#include "package/EntryName.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace package {

constexpr std::size_t kHeaderSize = 284;
constexpr std::size_t kNameFieldSize = 260;
constexpr std::size_t kMaxNameBytes = kNameFieldSize - 1; // room for the terminating zero
constexpr std::size_t kEndMarkerSize = 8;
constexpr std::uint8_t kEndMarkerByte = 0xFF;
constexpr std::uint32_t kTrailerOrdinal = 1;
constexpr std::uint32_t kFirstEntryOrdinal = 2;

struct PackageEntryHeader {
    std::int32_t count = 0;         // entries in the package; 0 or negative means none
    std::uint32_t ordinal = 0;      // 1 for the trailer, 2 for the first entry, ...
    std::uint64_t size = 0;         // payload bytes after this header; S in the trailer
    std::uint64_t runningTotal = 0; // sizes of all entries up to this one; S in the trailer
    std::array<char, kNameFieldSize> name{}; // ANSI, zero-terminated unless it fills the field
};
using PackageTrailer = PackageEntryHeader;

using HeaderBytes = std::array<std::uint8_t, kHeaderSize>;

HeaderBytes EncodeHeader(const PackageEntryHeader& header);
PackageEntryHeader DecodeHeader(const std::uint8_t* bytes); // reads kHeaderSize bytes

// Its length in bytes: up to the first zero byte, never past the 260-byte field.
std::size_t HeaderNameLength(const PackageEntryHeader& header);
// The name as stored. Inline, so that the stub, which decodes names itself, carries no narrow
// string.
inline std::string HeaderName(const PackageEntryHeader& header) {
    return std::string(header.name.data(), HeaderNameLength(header));
}
// False (and the header unchanged) when the name does not fit 259 bytes.
bool SetHeaderName(PackageEntryHeader& header, const std::string& name);

// Random access to the bytes of a file; a read past the end returns fewer bytes (or 0).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t Length() = 0;
    virtual std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) = 0;
};

// What a reader learns on its way from the end of the file to the first header.
struct PackageLocation {
    bool peHeadersRead = false; // the PE header offset lies within the file
    bool pe32Plus = false;      // a 64-bit image: its security directory sits 16 bytes further on
    std::int32_t certificateSize = 0;
    bool trailerRead = false;       // all 284 trailer bytes were there
    PackageTrailer trailer;         // zero-filled where nothing could be read
    std::uint64_t headerOffset = 0; // the trailer's size field; 0 when not found
};

// Follows the PE headers (PE32 or PE32+) to the certificate table size C and reads the trailer
// that ends C bytes before the end of the file.
PackageLocation LocatePackage(ByteSource& file);

// The distance from the end of the file to the start of the trailer.
std::uint64_t TrailerDistanceFromEnd(std::int32_t certificateSize);

// Whether a payload of `size` bytes starting at `payloadOffset` lies within the file.
bool PayloadFits(std::uint64_t payloadOffset, std::uint64_t size, std::uint64_t fileLength);

} // namespace package
