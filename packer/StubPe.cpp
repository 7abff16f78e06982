#include "packer/StubPe.h"

#include "packer/PackError.h"

#include "package/LittleEndian.h"
#include "package/PeHeaders.h"

#include <cstdio>
#include <string>

namespace packer {

namespace {

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

} // namespace

StubPe ReadStubPe(package::ByteSource& file) {
    using package::Get16;
    using package::Get32;

    std::uint8_t dos[package::kDosHeaderSize];
    if (file.ReadAt(0, dos, sizeof dos) != sizeof dos)
        throw PackError("too short for a DOS header");
    if (dos[0] != 'M' || dos[1] != 'Z')
        throw PackError("no MZ signature");

    const auto peOffset = static_cast<std::int32_t>(Get32(&dos[package::kPeOffsetField]));
    const std::uint64_t length = file.Length();
    if (peOffset < 0 || static_cast<std::uint64_t>(peOffset) + package::kPe32HeadersSize > length)
        throw PackError("the PE headers at offset " + std::to_string(peOffset) +
                        " lie outside the file");
    std::uint8_t pe[package::kPeHeadersReadSize] = {};
    const std::size_t got = file.ReadAt(static_cast<std::uint64_t>(peOffset), pe, sizeof pe);
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0)
        throw PackError("no PE signature at offset " + std::to_string(peOffset));

    const std::uint16_t magic = Get16(&pe[package::kOptionalHeaderMagicField]);
    if (magic != package::kPe32Magic && magic != package::kPe32PlusMagic)
        throw PackError("unknown optional header magic " + Hex(magic) + " (" +
                        Hex(package::kPe32Magic) + " for PE32, " + Hex(package::kPe32PlusMagic) +
                        " for PE32+)");
    const package::OptionalHeaderLayout layout = package::LayoutForMagic(magic);
    if (got < layout.headersSize)
        throw PackError("the PE32+ headers at offset " + std::to_string(peOffset) +
                        " run past the end of the file");
    if (Get16(&pe[package::kOptionalHeaderSizeField]) < layout.minOptionalHeaderSize ||
        Get32(&pe[layout.directoryCountField]) <= package::kSecurityDirectoryIndex)
        throw PackError("the optional header has no security directory");

    const package::SecurityDirectory security = package::ReadSecurityDirectory(pe);
    StubPe stub;
    stub.pe32Plus = layout.pe32Plus;
    stub.headersEnd = static_cast<std::uint64_t>(peOffset) + layout.headersSize;
    stub.securityAddress = security.address;
    stub.securitySize = security.size;
    return stub;
}

} // namespace packer
