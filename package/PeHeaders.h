// The few PE fields the package depends on: where the PE headers start and the security data
// directory (entry 4), whose size is the length C of the certificate table that signing appends.
//
// The 32-bit stub is a PE32 image. A PE32+ (64-bit) image widens four fields of the optional
// header from 4 to 8 bytes, so its data directories start 16 bytes later; a reader that took the
// PE32 position there would take the resource directory's size for C.
#pragma once

#include <cstddef>
#include <cstdint>

namespace package {

constexpr std::size_t kDosHeaderSize = 64;
constexpr std::size_t kPeOffsetField = 60; // e_lfanew, signed

// Offsets from the "PE\0\0" signature, which the 20-byte file header follows.
constexpr std::size_t kOptionalHeaderSizeField = 20; // SizeOfOptionalHeader
constexpr std::size_t kOptionalHeaderMagicField = 24;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;

// Signature, file header and optional header with its 16 data directories.
constexpr std::size_t kPe32HeadersSize = 248;
constexpr std::size_t kPe32PlusHeadersSize = 264;
// Enough to hold either; a reader fills what the file lacks with zeros.
constexpr std::size_t kPeHeadersReadSize = kPe32PlusHeadersSize;

constexpr std::uint32_t kSecurityDirectoryIndex = 4;

// Where one kind of optional header keeps its fields, as offsets from the signature.
struct OptionalHeaderLayout {
    bool pe32Plus = false;
    std::size_t headersSize = kPe32HeadersSize;
    std::size_t directoryCountField = 0;     // NumberOfRvaAndSizes
    std::size_t securityAddressField = 0;    // file offset of the certificate table
    std::size_t securitySizeField = 0;       // its size C
    std::uint16_t minOptionalHeaderSize = 0; // up to and including the security directory
};

// The layout for an optional header magic: PE32+ for 0x20B, PE32 for anything else, as the stub
// has always read it.
OptionalHeaderLayout LayoutForMagic(std::uint16_t magic);

struct SecurityDirectory {
    bool pe32Plus = false;
    std::uint32_t address = 0;
    std::int32_t size = 0; // signed, as the stub reads it: a negative value counts as unsigned
};

// Reads the security directory from the kPeHeadersReadSize bytes at the PE header offset.
SecurityDirectory ReadSecurityDirectory(const std::uint8_t* peHeaders);

} // namespace package
