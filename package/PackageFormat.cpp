#include "package/PackageFormat.h"

#include "package/LittleEndian.h"
#include "package/PeHeaders.h"

#include <algorithm>
#include <cstring>

namespace package {

HeaderBytes EncodeHeader(const PackageEntryHeader& header) {
    HeaderBytes bytes{};
    Put32(&bytes[0], static_cast<std::uint32_t>(header.count));
    Put32(&bytes[4], header.ordinal);
    Put64(&bytes[8], header.size);
    Put64(&bytes[16], header.runningTotal);
    std::memcpy(&bytes[24], header.name.data(), kNameFieldSize);
    return bytes;
}

PackageEntryHeader DecodeHeader(const std::uint8_t* bytes) {
    PackageEntryHeader header;
    header.count = static_cast<std::int32_t>(Get32(&bytes[0]));
    header.ordinal = Get32(&bytes[4]);
    header.size = Get64(&bytes[8]);
    header.runningTotal = Get64(&bytes[16]);
    std::memcpy(header.name.data(), &bytes[24], kNameFieldSize);
    return header;
}

std::size_t HeaderNameLength(const PackageEntryHeader& header) {
    return static_cast<std::size_t>(std::find(header.name.begin(), header.name.end(), '\0') -
                                    header.name.begin());
}

bool SetHeaderName(PackageEntryHeader& header, const std::string& name) {
    if (name.size() > kMaxNameBytes)
        return false;
    header.name.fill('\0');
    std::copy(name.begin(), name.end(), header.name.begin());
    return true;
}

std::uint64_t TrailerDistanceFromEnd(std::int32_t certificateSize) {
    return kHeaderSize + (certificateSize > 0 ? static_cast<std::uint64_t>(certificateSize) : 0);
}

PackageLocation LocatePackage(ByteSource& file) {
    PackageLocation location;
    const std::uint64_t length = file.Length();

    std::uint8_t dos[kDosHeaderSize] = {};
    file.ReadAt(0, dos, sizeof dos);
    const auto peOffset = static_cast<std::int32_t>(Get32(&dos[kPeOffsetField]));

    // Widened with its sign: a negative offset compares as huge, so it counts as past the end.
    if (static_cast<std::uint64_t>(static_cast<std::int64_t>(peOffset)) > length)
        return location;
    location.peHeadersRead = true;

    std::uint8_t pe[kPeHeadersReadSize] = {};
    file.ReadAt(static_cast<std::uint64_t>(peOffset), pe, sizeof pe);
    const SecurityDirectory security = ReadSecurityDirectory(pe);
    location.pe32Plus = security.pe32Plus;
    location.certificateSize = security.size;

    const std::uint64_t distance = TrailerDistanceFromEnd(location.certificateSize);
    if (distance > length)
        return location;

    std::uint8_t trailer[kHeaderSize] = {};
    location.trailerRead = file.ReadAt(length - distance, trailer, sizeof trailer) == kHeaderSize;
    location.trailer = DecodeHeader(trailer);
    location.headerOffset = location.trailer.size;
    return location;
}

bool PayloadFits(std::uint64_t payloadOffset, std::uint64_t size, std::uint64_t fileLength) {
    return payloadOffset <= fileLength && size <= fileLength - payloadOffset;
}

} // namespace package
