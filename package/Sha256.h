// SHA-256 (FIPS 180-4) of a byte stream, for the package's digest: the stub hashes the package as
// it extracts it, the packing tool the same bytes as it builds it. Our own, because the product
// links nothing but the standard library and Win32, and Wine's CryptoAPI and BCrypt hash at less
// than a tenth of the speed of the CPU's SHA instructions, which this uses where the CPU has them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace package {

using Sha256Digest = std::array<std::uint8_t, 32>;

namespace sha256_detail {

// Hashes `count` 64-byte blocks into the eight state words.
using BlockFunction = void (*)(std::uint32_t* state, const std::uint8_t* blocks,
                               std::size_t count) noexcept;

// Plain C++, for any CPU.
void PortableBlocks(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) noexcept;

// The block function on the x86 SHA extensions, or null where the CPU lacks them (or the build is
// not for x86).
[[nodiscard]] BlockFunction ShaNiBlocks() noexcept;

} // namespace sha256_detail

// Allocates nothing and throws nothing.
class Sha256 {
public:
    // Hashes with the fastest block function this CPU has, chosen at the first use.
    Sha256() noexcept;
    // Hashes with the given one; for tests and the benchmark, which compare them.
    explicit Sha256(sha256_detail::BlockFunction blocks) noexcept;

    void Update(const void* data, std::size_t size) noexcept;
    // The digest of everything given since construction or the last Final; the object then
    // starts a new message.
    [[nodiscard]] Sha256Digest Final() noexcept;

private:
    void Reset() noexcept;

    sha256_detail::BlockFunction blocks_;
    std::uint32_t state_[8];
    std::uint64_t length_; // in bytes; eight times it, modulo 2^64, ends the padding
    std::uint8_t partial_[64];
    std::size_t partialSize_;
};

[[nodiscard]] Sha256Digest Sha256Of(const void* data, std::size_t size) noexcept;

} // namespace package
