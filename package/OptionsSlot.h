// The options slot: 24 bytes inside the stub's image, beside the exit-code slot and in the same
// section, where the packing tool records how long the stub waits for what the installer leaves
// running, and where the stub tells the tool what its package may hold.
//
//   [marker, 16 bytes][wait for children, seconds, 4 bytes little-endian][features, 4 bytes]
//
// The stub as built carries the default wait and the features it reads; the tool writes the wait
// a release engineer asks for and never touches the features. Signed like the other slots, so
// nobody changes the wait on a deployed machine. A stub without this slot was built before either
// existed: it waits for the installer's own process only and takes plain names only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace package {

constexpr std::size_t kOptionsSlotMarkerSize = 16;
constexpr std::size_t kOptionsSlotSize = kOptionsSlotMarkerSize + 8;

// Built as the other slots' markers are, so that no text tool can have made one that is still
// found.
constexpr std::array<std::uint8_t, kOptionsSlotMarkerSize> kOptionsSlotMarker = {
    0x89, 's', 'l', 'o', 't', '-', 'o', 'p', 't', 'i', 'o', 'n', '\r', '\n', 0x1A, '\n'};

// How long the stub waits, after the installer's own process has ended, for the processes it
// started; 0 waits for the installer's own process only.
constexpr std::uint32_t kDefaultWaitChildrenSeconds = 600;
// A week: longer than any installation, short enough to count in milliseconds.
constexpr std::uint32_t kMaxWaitChildrenSeconds = 7 * 24 * 3600;

// Entry names may be relative paths ("data\a.cab"): the stub extracts folder trees.
constexpr std::uint32_t kFeatureEntryPaths = 1;
// What the stub as built can do.
constexpr std::uint32_t kStubFeatures = kFeatureEntryPaths;

struct StubOptions {
    std::uint32_t waitChildrenSeconds = kDefaultWaitChildrenSeconds;
    std::uint32_t features = 0;
};

// Reads the slot's kOptionsSlotSize bytes; the marker is not looked at. A wait beyond the
// maximum is read as the maximum.
StubOptions DecodeOptionsSlot(const std::uint8_t* bytes) noexcept;

// Writes the options after the marker, which is left as it is.
void EncodeOptionsSlot(const StubOptions& options, std::uint8_t* bytes) noexcept;

} // namespace package
