// The settings record: 128 bytes inside the stub's image, in a read-only section of their own,
// where the packing tool records what the signed stub is to do with its package, and where the
// stub tells the tool what it can do.
//
//   offset  size
//        0    16  marker
//       16     4  format version, 1
//       20     4  the record's size in bytes, marker included: 128
//       24     8  package length: bytes from the first entry header to the end of the trailer
//       32    32  package SHA-256
//       64     4  exit-code choice: 0 zero, any other value installer (the tool writes 1)
//       68     4  wait for children, seconds: 600 as built, read as at most a week
//       72     4  features of the stub (kFeature...)
//       76     4  package options (kOption...): how the package's payloads and names are kept
//       80    48  reserved, zero
//
// Numbers are little-endian. The image is what the loader maps and what code signing covers, so
// the record a running stub reads from its own memory is the one that was signed, whatever lies
// in its file by then: nobody can change the package, the exit code or the wait on a deployed
// machine without breaking the signature. The stub as built carries an empty digest (it then
// extracts any package, unverified), the zero choice, the default wait, its features and no
// options; the tool fills in the digest, the choice, the wait and the options, and never touches
// the rest.
//
// A setting added later takes reserved room, reads as today's behaviour when zero, and is written
// only into a stub whose features say it reads it; a change that an older reader must not ignore
// takes a new version. A reader that meets a version it does not know, or a record smaller than
// the fields it reads, fails closed: it takes nothing from the record, and the stub extracts no
// package at all rather than one it cannot tell it was signed with. The marker lets the tool find
// the record without knowing how the stub was linked; it occurs once in a stub (the tool's search
// and writing are kept out of this file, which the stub links, so no second copy gets in).
#pragma once

#include "package/Sha256.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace package {

constexpr std::size_t kSettingsMarkerSize = 16;
constexpr std::size_t kSettingsRecordSize = 128;
constexpr std::uint32_t kSettingsVersion = 1;

// Eight bits set in the first byte and a CR LF, a ^Z and an LF at the end, as PNG's signature has:
// text tools that mangle such bytes cannot have made a record that is still found.
constexpr std::array<std::uint8_t, kSettingsMarkerSize> kSettingsMarker = {
    0x89, 's', 't', 'u', 'b', '-', 'r', 'e', 'c', 'o', 'r', 'd', '\r', '\n', 0x1A, '\n'};

// Where the fields lie, from the record's start.
constexpr std::size_t kSettingsVersionAt = 16;
constexpr std::size_t kSettingsSizeAt = 20;
constexpr std::size_t kSettingsLengthAt = 24;
constexpr std::size_t kSettingsDigestAt = 32;
constexpr std::size_t kSettingsExitCodeAt = 64;
constexpr std::size_t kSettingsWaitAt = 68;
constexpr std::size_t kSettingsFeaturesAt = 72;
constexpr std::size_t kSettingsOptionsAt = 76;
// The end of the fields this version reads: a smaller record lacks some of them.
constexpr std::size_t kSettingsFieldsEnd = 80;

// How long the stub waits, after the installer's own process has ended, for the processes it
// started; 0 waits for the installer's own process only.
constexpr std::uint32_t kDefaultWaitChildrenSeconds = 600;
// A week: longer than any installation, short enough to count in milliseconds.
constexpr std::uint32_t kMaxWaitChildrenSeconds = 7 * 24 * 3600;

// Entry names may be relative paths ("data\a.cab"): the stub extracts folder trees.
constexpr std::uint32_t kFeatureEntryPaths = 1;
// The stub reads the package options below, each of them.
constexpr std::uint32_t kFeatureCompressedPayloads = 2;
constexpr std::uint32_t kFeatureUtf8Names = 4;
// What the stub as built can do.
constexpr std::uint32_t kStubFeatures =
    kFeatureEntryPaths | kFeatureCompressedPayloads | kFeatureUtf8Names;

// Every payload opens with a payload header (package/PayloadHeader.h) saying how it is kept.
// Without this option a payload is the file's bytes, as ever.
constexpr std::uint32_t kOptionCompressedPayloads = 1;
// The names are UTF-8, whatever the machine's ANSI code page. Without it they are ANSI text, which
// the tool writes only as ASCII.
constexpr std::uint32_t kOptionUtf8Names = 2;
// The options a stub reads, and the feature that says so.
constexpr std::uint32_t kKnownOptions = kOptionCompressedPayloads | kOptionUtf8Names;

enum class ExitCodeChoice {
    zero,      // always 0
    installer, // the installer's exit code, and failure codes of the stub's own refusals
};

// What the packing tool writes for installer.
constexpr std::uint32_t kExitCodeInstallerValue = 1;

// The package the record vouches for. All zero: no tool filled it, and the stub extracts any
// package, unverified.
struct PackageDigest {
    std::uint64_t length = 0; // bytes from the first entry header to the end of the trailer
    Sha256Digest digest{};

    // Whether a tool filled it; a stub with a filled digest accepts no other package.
    [[nodiscard]] bool Filled() const noexcept;
};

struct StubSettings {
    // False for a version this reader does not know or a record too short for its fields: the
    // stub then extracts nothing, and reports that refusal with a failure code rather than 0.
    bool readable = true;
    std::uint32_t version = kSettingsVersion; // as recorded, readable or not
    std::uint32_t size = kSettingsRecordSize; // as recorded, readable or not
    PackageDigest digest;
    ExitCodeChoice exitCode = ExitCodeChoice::zero;
    std::uint32_t exitCodeValue = 0; // as recorded
    std::uint32_t waitChildrenSeconds = kDefaultWaitChildrenSeconds;
    std::uint32_t features = 0;
    std::uint32_t options = 0; // kOption...: how the signed package is kept
};

using SettingsRecordBytes = std::array<std::uint8_t, kSettingsRecordSize>;

// Reads the record; the marker is not looked at. A wait beyond the maximum is read as the
// maximum.
StubSettings DecodeStubSettings(const SettingsRecordBytes& record) noexcept;

} // namespace package
