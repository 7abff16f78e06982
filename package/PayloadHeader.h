// How a payload is kept, in a package whose settings record has kOptionCompressedPayloads: every
// payload then opens with 16 bytes,
//
//   offset  size
//        0     4  method: 0 stored (the file's bytes follow), 1 LZMA (package/LzmaDecoder.h)
//        4     4  reserved, zero
//        8     8  original size: the file's length once extracted
//
// little-endian, and the header's size counts them. Without the option a payload is the file's
// bytes alone, as ever. Shared by the stub, the packing tool and the fuzzer; it needs no Windows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace package {

constexpr std::size_t kPayloadHeaderSize = 16;

enum class PayloadMethod : std::uint32_t {
    stored = 0,
    lzma = 1,
};

struct PayloadHeader {
    PayloadMethod method = PayloadMethod::stored;
    std::uint64_t originalSize = 0;
};

void EncodePayloadHeader(const PayloadHeader& header, std::uint8_t* bytes) noexcept;

// Reads the kPayloadHeaderSize bytes of a payload of `payloadSize` bytes in all. False for what no
// writer makes: a payload too short for its header, a method not known, reserved bytes not zero, or
// a stored payload whose length is not its original size.
bool DecodePayloadHeader(const std::uint8_t* bytes, std::uint64_t payloadSize,
                         PayloadHeader& header) noexcept;

// Where an entry's file lies in its payload, and how it is kept there.
struct PayloadSpan {
    PayloadMethod method = PayloadMethod::stored;
    std::uint64_t originalSize = 0; // the file's length once extracted
    std::uint64_t offset = 0;       // of the stored bytes, past the payload header if there is one
    std::uint64_t size = 0;         // stored bytes
};

// The payload of `payloadSize` bytes at `payloadOffset`: the file's bytes alone, or, given
// `headerBytes` (its first kPayloadHeaderSize bytes, in a package whose payloads have headers),
// what they describe. False as DecodePayloadHeader is.
bool LocatePayload(std::uint64_t payloadOffset, std::uint64_t payloadSize,
                   const std::uint8_t* headerBytes, PayloadSpan& span) noexcept;

} // namespace package
