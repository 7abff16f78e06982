#include "tests/support/FakeStub.h"

#include "package/Sha256.h"
#include "package/StubSettings.h"

#include <algorithm>

namespace fake {

void Put32(Bytes& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

void Put64(Bytes& bytes, std::size_t offset, std::uint64_t value) {
    for (int i = 0; i < 8; ++i)
        bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

namespace {

void Put16(Bytes& bytes, std::size_t offset, std::uint16_t value) {
    bytes.at(offset) = static_cast<std::uint8_t>(value);
    bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
}

} // namespace

Bytes PeImage(std::size_t size, PeKind kind) {
    Bytes image(size);
    for (std::size_t i = 0; i < size; ++i)
        image[i] = static_cast<std::uint8_t>(0x20 + i % 64);
    for (std::size_t i = 2; i < kPeOffset && i < size; ++i)
        image[i] = 0;
    image.at(0) = 'M';
    image.at(1) = 'Z';
    Put32(image, 60, kPeOffset);
    const std::size_t pe = kPeOffset;
    const bool plus = kind == PeKind::pe32Plus;
    for (std::size_t i = pe; i < pe + (plus ? 264 : 248); ++i)
        image.at(i) = 0;
    image[pe] = 'P';
    image[pe + 1] = 'E';
    Put16(image, pe + 4, plus ? 0x8664 : 0x014C);  // Machine: x86-64 or i386
    Put16(image, pe + 20, plus ? 240 : 224);       // SizeOfOptionalHeader
    Put16(image, pe + 24, plus ? 0x020B : 0x010B); // Magic
    Put32(image, pe + 24 + (plus ? 108 : 92), 16); // NumberOfRvaAndSizes
    if (size >= kSettingsOffset + package::kSettingsRecordSize) {
        // Laid out by hand, as the record's header draws it.
        std::fill_n(image.begin() + kSettingsOffset, package::kSettingsRecordSize, 0);
        std::copy(package::kSettingsMarker.begin(), package::kSettingsMarker.end(),
                  image.begin() + kSettingsOffset);
        Put32(image, kSettingsOffset + 16, 1);                      // version
        Put32(image, kSettingsOffset + 20, 128);                    // size
        Put32(image, kSettingsOffset + 68, 600);                    // wait for children
        Put32(image, kSettingsOffset + 72, package::kStubFeatures); // features: as built
    }
    return image;
}

void FillDigest(Bytes& file, std::uint64_t packageStart, std::uint64_t packageEnd) {
    const package::Sha256Digest digest = package::Sha256Of(
        file.data() + packageStart, static_cast<std::size_t>(packageEnd - packageStart));
    Put64(file, kSettingsOffset + 24, packageEnd - packageStart);
    std::copy(digest.begin(), digest.end(), file.begin() + kSettingsOffset + 32);
}

std::size_t SecurityDirectoryOffset(const Bytes& file) {
    const bool plus = file.at(kPeOffset + 24) == 0x0B && file.at(kPeOffset + 25) == 0x02;
    return kPeOffset + (plus ? 168 : 152);
}

void SetPeOffset(Bytes& file, std::int32_t offset) {
    Put32(file, 60, static_cast<std::uint32_t>(offset));
}

void SetSecurityDirectory(Bytes& file, std::uint32_t address, std::int32_t size) {
    const std::size_t directory = SecurityDirectoryOffset(file);
    Put32(file, directory, address);
    Put32(file, directory + 4, static_cast<std::uint32_t>(size));
}

Bytes HeaderBytes(std::int32_t count, std::uint32_t ordinal, std::uint64_t size,
                  std::uint64_t runningTotal, const std::string& name) {
    Bytes header(284, 0);
    Put32(header, 0, static_cast<std::uint32_t>(count));
    Put32(header, 4, ordinal);
    Put64(header, 8, size);
    Put64(header, 16, runningTotal);
    for (std::size_t i = 0; i < name.size() && i < 260; ++i)
        header[24 + i] = static_cast<std::uint8_t>(name[i]);
    return header;
}

Bytes Package(const Bytes& image, const std::vector<Entry>& entries, const std::string& stubName) {
    Bytes file = image;
    std::uint64_t total = 0;
    std::uint32_t ordinal = 2;
    for (const Entry& entry : entries) {
        total += entry.payload.size();
        const Bytes header = HeaderBytes(static_cast<std::int32_t>(entries.size()), ordinal++,
                                         entry.payload.size(), total, entry.name);
        file.insert(file.end(), header.begin(), header.end());
        file.insert(file.end(), entry.payload.begin(), entry.payload.end());
    }
    file.insert(file.end(), 8, 0xFF);
    const Bytes trailer = HeaderBytes(0, 1, image.size(), image.size(), stubName);
    file.insert(file.end(), trailer.begin(), trailer.end());
    return file;
}

void AppendCertificateTable(Bytes& file, std::size_t size) {
    const std::size_t start = file.size();
    SetSecurityDirectory(file, static_cast<std::uint32_t>(start), static_cast<std::int32_t>(size));
    for (std::size_t i = 0; i < size; ++i)
        file.push_back(static_cast<std::uint8_t>(0xC0 + i % 16));
    Put32(file, start, static_cast<std::uint32_t>(size)); // dwLength
    Put16(file, start + 4, 0x0200);                       // wRevision
    Put16(file, start + 6, 0x0002);                       // wCertificateType: PKCS#7
}

Bytes Pattern(std::size_t size, std::uint8_t start) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((start + i) % 251);
    return bytes;
}

} // namespace fake
