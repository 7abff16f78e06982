// Little-endian integers in byte buffers, read and written byte by byte so that the layout of a
// file never depends on the host's byte order or on the alignment of the buffer.
#pragma once

#include <cstdint>

namespace package {

inline std::uint16_t Get16(const std::uint8_t* in) {
    return static_cast<std::uint16_t>(in[0] | in[1] << 8);
}

inline std::uint32_t Get32(const std::uint8_t* in) {
    return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
           static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

inline std::uint64_t Get64(const std::uint8_t* in) {
    return static_cast<std::uint64_t>(Get32(in)) | static_cast<std::uint64_t>(Get32(in + 4)) << 32;
}

inline void Put32(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

inline void Put64(std::uint8_t* out, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

} // namespace package
