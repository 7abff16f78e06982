// Small in-memory stub files for tests: a PE32 or PE32+ image that holds just the headers a
// package reader or writer looks at, and the package layout built byte by byte, independently of
// the packing tool's writer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fake {

using Bytes = std::vector<std::uint8_t>;

struct Entry {
    std::string name;
    Bytes payload;
};

constexpr std::uint32_t kPeOffset = 0x80;
// Where PeImage puts its settings record as the stub is built, past the headers of either kind.
constexpr std::size_t kSettingsOffset = 0x200;

enum class PeKind { pe32, pe32Plus };

// "MZ", e_lfanew = kPeOffset, "PE\0\0", an i386 (or x86-64) file header and a PE32 (or PE32+)
// optional header with 16 data directories, and the settings record when the image is long
// enough (version 1, 128 bytes, an empty digest, the zero choice, the default wait and the
// entry-paths and UTF-8 names features); the rest up to `size` is filler that is neither zero nor
// 0xFF.
Bytes PeImage(std::size_t size = 1024, PeKind kind = PeKind::pe32);

// Writes the length and SHA-256 of file[packageStart, packageEnd) into the settings record at
// kSettingsOffset, as a packing tool vouches for the package it appends.
void FillDigest(Bytes& file, std::uint64_t packageStart, std::uint64_t packageEnd);

// File offset of the security directory (its address; the size follows), for the kind of
// optional header the file's magic says.
std::size_t SecurityDirectoryOffset(const Bytes& file);

void Put32(Bytes& bytes, std::size_t offset, std::uint32_t value);
void Put64(Bytes& bytes, std::size_t offset, std::uint64_t value);
void SetPeOffset(Bytes& file, std::int32_t offset);
void SetSecurityDirectory(Bytes& file, std::uint32_t address, std::int32_t size);

// One header as it sits in the file, every field written by hand.
Bytes HeaderBytes(std::int32_t count, std::uint32_t ordinal, std::uint64_t size,
                  std::uint64_t runningTotal, const std::string& name);

// image + (header + payload)... + eight 0xFF + trailer, with counts, ordinals and running totals
// as a correct writer sets them; no padding is added.
Bytes Package(const Bytes& image, const std::vector<Entry>& entries,
              const std::string& stubName = "stub.exe");

// Appends a certificate table of `size` bytes (at least 8): one WIN_CERTIFICATE record of that
// length holding filler, and points the security directory at it.
void AppendCertificateTable(Bytes& file, std::size_t size);

// Bytes 0, 1, 2, ... (mod 251), so a misplaced block shows.
Bytes Pattern(std::size_t size, std::uint8_t start = 0);

} // namespace fake
