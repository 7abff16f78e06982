#include "package/PeHeaders.h"

#include "package/LittleEndian.h"

namespace package {

namespace {

// The fields of the optional header before its data directories: 96 bytes in PE32, 112 in PE32+
// (ImageBase and the four stack and heap sizes are 8 bytes wide, BaseOfData is gone).
constexpr std::size_t kPe32DirectoriesStart = kOptionalHeaderMagicField + 96;
constexpr std::size_t kPe32PlusDirectoriesStart = kOptionalHeaderMagicField + 112;
constexpr std::size_t kDirectorySize = 8; // VirtualAddress, Size

OptionalHeaderLayout LayoutWithDirectoriesAt(std::size_t directoriesStart, bool pe32Plus) {
    OptionalHeaderLayout layout;
    layout.pe32Plus = pe32Plus;
    layout.headersSize = pe32Plus ? kPe32PlusHeadersSize : kPe32HeadersSize;
    layout.directoryCountField = directoriesStart - 4;
    layout.securityAddressField = directoriesStart + kSecurityDirectoryIndex * kDirectorySize;
    layout.securitySizeField = layout.securityAddressField + 4;
    layout.minOptionalHeaderSize = static_cast<std::uint16_t>(
        layout.securityAddressField + kDirectorySize - kOptionalHeaderMagicField);
    return layout;
}

} // namespace

OptionalHeaderLayout LayoutForMagic(std::uint16_t magic) {
    if (magic == kPe32PlusMagic)
        return LayoutWithDirectoriesAt(kPe32PlusDirectoriesStart, true);
    return LayoutWithDirectoriesAt(kPe32DirectoriesStart, false);
}

SecurityDirectory ReadSecurityDirectory(const std::uint8_t* peHeaders) {
    const OptionalHeaderLayout layout =
        LayoutForMagic(Get16(&peHeaders[kOptionalHeaderMagicField]));
    SecurityDirectory directory;
    directory.pe32Plus = layout.pe32Plus;
    directory.address = Get32(&peHeaders[layout.securityAddressField]);
    directory.size = static_cast<std::int32_t>(Get32(&peHeaders[layout.securitySizeField]));
    return directory;
}

} // namespace package
