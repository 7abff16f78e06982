// The digest slot: 56 bytes inside the stub's image, in a section of their own, where the packing
// tool records the length and the SHA-256 of the package it appends.
//
//   [marker, 16 bytes][length, 8 bytes little-endian][SHA-256, 32 bytes]
//
// The image is what the loader maps and what code signing covers, so the slot a running stub reads
// from its own memory is the one that was signed, whatever lies in its file by then. The package
// it vouches for runs from the first entry header to the end of the trailer: every header and
// payload, the end marker and the trailer, exactly as they stand in the file.
//
// A slot whose length and digest are all zero is one no tool filled: such a stub extracts any
// package, unverified. The marker lets the packing tool find the slot without knowing how the
// stub was linked; it occurs once in a stub (the packing tool's writing of the slot is kept out of
// this file, which the stub links, so that no second copy of the marker gets into its image).
#pragma once

#include "package/Sha256.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace package {

constexpr std::size_t kDigestSlotMarkerSize = 16;
constexpr std::size_t kDigestSlotSize = kDigestSlotMarkerSize + 8 + 32;

// Eight bits set in the first byte and a CR LF, a ^Z and an LF at the end, as PNG's signature has:
// text tools that mangle such bytes cannot have made a slot that is still found.
constexpr std::array<std::uint8_t, kDigestSlotMarkerSize> kDigestSlotMarker = {
    0x89, 's', 'l', 'o', 't', '-', 's', 'h', 'a', '2', '5', '6', '\r', '\n', 0x1A, '\n'};

struct DigestSlot {
    std::uint64_t length = 0; // bytes from the first entry header to the end of the trailer
    Sha256Digest digest{};

    // Whether a tool filled it; a stub with a filled slot accepts no other package.
    [[nodiscard]] bool Filled() const noexcept;
};

// Reads the slot from its kDigestSlotSize bytes; the marker is not looked at.
DigestSlot DecodeDigestSlot(const std::uint8_t* bytes) noexcept;

} // namespace package
