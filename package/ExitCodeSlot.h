// The exit-code slot: 24 bytes inside the stub's image, beside the digest slot and in the same
// section, where the packing tool records what the stub's exit code reports.
//
//   [marker, 16 bytes][choice, 4 bytes little-endian][reserved, 4 bytes, zero]
//
// Deployment engines decide from the exit code alone. The choice lies in the image for the same
// reason the digest does: signing covers it and the running stub reads it from its mapped image,
// so nobody can switch it on a deployed machine without breaking the signature. The stub as built
// carries a zero choice and keeps exit code 0; the packing tool writes another choice only when
// asked. Like the digest slot's, the marker occurs once in a stub: the tool's search and writing
// are kept out of this file, which the stub links.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace package {

constexpr std::size_t kExitCodeSlotMarkerSize = 16;
constexpr std::size_t kExitCodeSlotSize = kExitCodeSlotMarkerSize + 8;

// Built as the digest slot's marker is, so that no text tool can have made one that is still found.
constexpr std::array<std::uint8_t, kExitCodeSlotMarkerSize> kExitCodeSlotMarker = {
    0x89, 's', 'l', 'o', 't', '-', 'e', 'x', 'i', 't', 'c', 'd', '\r', '\n', 0x1A, '\n'};

enum class ExitCodeChoice {
    zero,      // always 0, as before the slot existed
    installer, // the installer's exit code, and failure codes of the stub's own refusals
};

// Reads the choice from the slot's kExitCodeSlotSize bytes; the marker is not looked at. 0 is
// zero; any other value is installer: a slot someone filled asks for outcomes to be passed on.
ExitCodeChoice DecodeExitCodeSlot(const std::uint8_t* bytes) noexcept;

// What the packing tool writes for installer.
constexpr std::uint32_t kExitCodeInstallerValue = 1;

} // namespace package
