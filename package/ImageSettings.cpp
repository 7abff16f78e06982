#include "package/ImageSettings.h"

#include <cstddef>

namespace package {

namespace {

struct RecordImage {
    std::uint8_t bytes[kSettingsRecordSize];
};

constexpr void Put32At(RecordImage& record, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i)
        record.bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The marker, this version and size, the default wait and what this stub can do; zeros for the
// rest: the record as no tool has filled it.
constexpr RecordImage BuiltRecord() {
    RecordImage record{};
    for (std::size_t i = 0; i < kSettingsMarkerSize; ++i)
        record.bytes[i] = kSettingsMarker[i];
    Put32At(record, kSettingsVersionAt, kSettingsVersion);
    Put32At(record, kSettingsSizeAt, static_cast<std::uint32_t>(kSettingsRecordSize));
    Put32At(record, kSettingsWaitAt, kDefaultWaitChildrenSeconds);
    Put32At(record, kSettingsFeaturesAt, kStubFeatures);
    return record;
}

// In a read-only section of its own, which the packing tool finds by the marker and fills in its
// copy of the image. Kept although nothing names it but the reader below.
__attribute__((section(".setting"), used)) const RecordImage g_record = BuiltRecord();

} // namespace

StubSettings ImageSettings() noexcept {
    // Read as volatile: the compiler sees the record as built and would otherwise fold every read
    // of it into those constants, which are exactly what the packing tool changes.
    SettingsRecordBytes bytes;
    const volatile std::uint8_t* image = g_record.bytes;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = image[i];
    return DecodeStubSettings(bytes);
}

} // namespace package
