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

} // namespace package
