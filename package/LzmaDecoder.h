// The stub's own LZMA decoder, for payloads kept as PayloadMethod::lzma (package/PayloadHeader.h).
//
// The stream is LZMA as the LZMA SDK defines it, with no size field and no end marker: five
// property bytes (lc/lp/pb as (pb * 5 + lp) * 9 + lc, then the dictionary size, little-endian),
// then the range coder's bytes. The payload header gives the original size, and the stream must
// end exactly where the payload does.
//
// Until the package's digest has matched at the end of the extraction, every byte is hostile: the
// decoder bounds its memory by the dictionary (at most kLzmaMaxDictionary, and never more than the
// original size) whatever the entry's size, writes each byte once and in order, never more than the
// original size, and reports anything no encoder writes as malformed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace package {

constexpr std::size_t kLzmaPropertiesSize = 5;
// What the tool writes; a larger dictionary is refused as malformed.
constexpr std::uint32_t kLzmaMaxDictionary = 8u << 20;

struct LzmaBytes {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

// The stream's bytes, in order, in pieces of any size.
class LzmaInput {
public:
    virtual ~LzmaInput() = default;
    // The next piece, valid until the next call; empty at the end of the payload, or when reading
    // failed (the caller knows which).
    virtual LzmaBytes Next() noexcept = 0;
};

// Where the decoded bytes go, in order.
class LzmaOutput {
public:
    virtual ~LzmaOutput() = default;
    // False stops decoding: the bytes could not be written.
    virtual bool Write(const std::uint8_t* data, std::size_t size) noexcept = 0;
};

enum class LzmaResult {
    done,        // exactly `originalSize` bytes written, and the stream ended exactly there
    malformed,   // bad properties, a bad code, a stream that ends early or runs on, a wrong size
    writeFailed, // the output refused some bytes
};

LzmaResult DecodeLzma(LzmaInput& input, std::uint64_t originalSize, LzmaOutput& output) noexcept;

} // namespace package
