#include "packer/PeHeaders.h"

#include "packer/PackError.h"

#include <cstdio>
#include <string>

namespace packer {

namespace {

constexpr std::size_t kMagicField = 24;              // optional header magic, from the signature
constexpr std::size_t kOptionalHeaderSizeField = 20; // SizeOfOptionalHeader
constexpr std::size_t kDirectoryCountField = 24 + 92; // NumberOfRvaAndSizes
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
// The security directory is entry 4: 96 bytes of PE32 fields, then 8 bytes per directory.
constexpr std::uint16_t kOptionalHeaderWithSecurity = 96 + 5 * 8;
constexpr std::uint32_t kSecurityDirectoryIndex = 4;

std::uint16_t Get16(const std::uint8_t* in) {
    return static_cast<std::uint16_t>(in[0] | in[1] << 8);
}

std::uint32_t Get32(const std::uint8_t* in) {
    return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
           static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

} // namespace

StubPe ReadStubPe(package::ByteSource& file) {
    const std::uint64_t length = file.Length();
    std::uint8_t dos[package::kDosHeaderSize];
    if (file.ReadAt(0, dos, sizeof dos) != sizeof dos)
        throw PackError("too short for a DOS header");
    if (dos[0] != 'M' || dos[1] != 'Z')
        throw PackError("no MZ signature");

    const auto peOffset = static_cast<std::int32_t>(Get32(&dos[package::kPeOffsetField]));
    if (peOffset < 0 || static_cast<std::uint64_t>(peOffset) + package::kPeHeadersSize > length)
        throw PackError("the PE headers at offset " + std::to_string(peOffset) +
                        " lie outside the file");
    std::uint8_t pe[package::kPeHeadersSize];
    if (file.ReadAt(static_cast<std::uint64_t>(peOffset), pe, sizeof pe) != sizeof pe)
        throw PackError("the PE headers cannot be read");
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0)
        throw PackError("no PE signature at offset " + std::to_string(peOffset));

    const std::uint16_t magic = Get16(&pe[kMagicField]);
    if (magic == kPe32PlusMagic)
        throw PackError("a 64-bit (PE32+) image; the stub must be a 32-bit image");
    if (magic != kPe32Magic)
        throw PackError("unknown optional header magic " + Hex(magic));
    if (Get16(&pe[kOptionalHeaderSizeField]) < kOptionalHeaderWithSecurity ||
        Get32(&pe[kDirectoryCountField]) <= kSecurityDirectoryIndex)
        throw PackError("the optional header has no security directory");

    StubPe stub;
    stub.headersEnd = static_cast<std::uint64_t>(peOffset) + package::kPeHeadersSize;
    stub.securityAddress = Get32(&pe[package::kSecurityAddressField]);
    stub.securitySize = static_cast<std::int32_t>(Get32(&pe[package::kSecuritySizeField]));
    return stub;
}

} // namespace packer
