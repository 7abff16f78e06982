#include "package/PayloadHeader.h"

#include "package/LittleEndian.h"

namespace package {

void EncodePayloadHeader(const PayloadHeader& header, std::uint8_t* bytes) noexcept {
    Put32(bytes, static_cast<std::uint32_t>(header.method));
    Put32(bytes + 4, 0);
    Put64(bytes + 8, header.originalSize);
}

bool DecodePayloadHeader(const std::uint8_t* bytes, std::uint64_t payloadSize,
                         PayloadHeader& header) noexcept {
    if (payloadSize < kPayloadHeaderSize || Get32(bytes + 4) != 0)
        return false;
    const std::uint32_t method = Get32(bytes);
    header.originalSize = Get64(bytes + 8);
    switch (method) {
    case static_cast<std::uint32_t>(PayloadMethod::stored):
        header.method = PayloadMethod::stored;
        return header.originalSize == payloadSize - kPayloadHeaderSize;
    case static_cast<std::uint32_t>(PayloadMethod::lzma):
        header.method = PayloadMethod::lzma;
        return true;
    default:
        return false;
    }
}

bool LocatePayload(std::uint64_t payloadOffset, std::uint64_t payloadSize,
                   const std::uint8_t* headerBytes, PayloadSpan& span) noexcept {
    span = PayloadSpan{PayloadMethod::stored, payloadSize, payloadOffset, payloadSize};
    if (headerBytes == nullptr)
        return true;
    PayloadHeader header;
    if (!DecodePayloadHeader(headerBytes, payloadSize, header))
        return false;
    span.method = header.method;
    span.originalSize = header.originalSize;
    span.offset += kPayloadHeaderSize;
    span.size -= kPayloadHeaderSize;
    return true;
}

} // namespace package
