// The packing tool's LZMA encoder: the stream package/LzmaDecoder.h reads (properties, then the
// range coder's bytes, no end marker). The same input gives the same bytes on every host and
// build: nothing in it depends on the platform, the time or threads.
#pragma once

#include "package/PackageFormat.h"

#include <cstddef>
#include <cstdint>

namespace packer {

// Takes the stream as it is made.
class LzmaSink {
public:
    virtual ~LzmaSink() = default;
    // False stops the encoder (the caller has seen enough).
    virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
};

// Encodes the `size` bytes of `input` from `offset`, reading them in order through a window of
// bounded size (the whole input is never held). False when the sink stopped it; throws PackError
// when the input cannot be read.
bool EncodeLzma(package::ByteSource& input, std::uint64_t offset, std::uint64_t size,
                LzmaSink& sink);

// The same, reading `readBlock` bytes at a time (at least 1); the stream does not depend on it.
bool EncodeLzma(package::ByteSource& input, std::uint64_t offset, std::uint64_t size,
                LzmaSink& sink, std::size_t readBlock);

} // namespace packer
