#include "packer/SettingsRecord.h"

#include "package/LittleEndian.h"
#include "package/StubSettings.h"

#include "tests/support/FakeStub.h"
#include "package/MemoryByteSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

namespace {

using package::ExitCodeChoice;

// The record as fake::PeImage lays it out by hand, as the stub is built.
packer::SettingsRecord BuiltRecord() {
    const fake::Bytes image = fake::PeImage(1000);
    MemoryByteSource source(image);
    return packer::FindSettingsRecord(source, image.size(), "stub");
}

TEST(SettingsRecord, WhatTheToolFillsInIsWhatTheStubReads) {
    const packer::SettingsRecord built = BuiltRecord();
    EXPECT_EQ(built.offset, fake::kSettingsOffset);
    EXPECT_TRUE(built.settings.readable);
    EXPECT_FALSE(built.settings.digest.Filled());
    EXPECT_EQ(built.settings.exitCode, ExitCodeChoice::zero);
    EXPECT_EQ(built.settings.waitChildrenSeconds, 600u);
    EXPECT_EQ(built.settings.features, package::kStubFeatures);

    package::StubSettings chosen;
    chosen.digest.length = 0x0102030405060708;
    for (std::size_t i = 0; i < chosen.digest.digest.size(); ++i)
        chosen.digest.digest[i] = static_cast<std::uint8_t>(0xA0 + i);
    chosen.exitCode = ExitCodeChoice::installer;
    chosen.waitChildrenSeconds = package::kMaxWaitChildrenSeconds;
    chosen.features = 0; // never written: the stub's own
    chosen.options = package::kKnownOptions;
    package::SettingsRecordBytes bytes = built.bytes;
    packer::FillSettings(chosen, bytes);

    const package::StubSettings read = package::DecodeStubSettings(bytes);
    EXPECT_TRUE(read.readable);
    EXPECT_EQ(read.digest.length, chosen.digest.length);
    EXPECT_EQ(read.digest.digest, chosen.digest.digest);
    EXPECT_EQ(read.exitCode, ExitCodeChoice::installer);
    EXPECT_EQ(read.exitCodeValue, package::kExitCodeInstallerValue);
    EXPECT_EQ(read.waitChildrenSeconds, package::kMaxWaitChildrenSeconds);
    EXPECT_EQ(read.features, package::kStubFeatures);
    EXPECT_EQ(read.options, package::kKnownOptions);
    // Marker, version and size before the settings written, the features and reserved room
    // around the options.
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 24, built.bytes.begin()));
    EXPECT_TRUE(std::equal(bytes.begin() + 72, bytes.begin() + 76, built.bytes.begin() + 72));
    EXPECT_TRUE(std::equal(bytes.begin() + 80, bytes.end(), built.bytes.begin() + 80));

    // A wait beyond a week, which the tool never writes, is read as a week.
    package::Put32(bytes.data() + 68, 0xFFFFFFFF);
    EXPECT_EQ(package::DecodeStubSettings(bytes).waitChildrenSeconds,
              package::kMaxWaitChildrenSeconds);
}

// Nothing is taken from a record of a version the reader does not know, too short for its fields
// or asking for a package option it does not know: a refusal reported as a failure, not as 0.
TEST(SettingsRecord, AnUnknownVersionOrAShortRecordFailsClosed) {
    for (const auto& [version, size] :
         {std::pair(0u, 128u), std::pair(2u, 128u), std::pair(1u, 79u), std::pair(1u, 0u)}) {
        package::SettingsRecordBytes bytes = BuiltRecord().bytes;
        package::Put32(bytes.data() + 16, version);
        package::Put32(bytes.data() + 20, size);
        const package::StubSettings read = package::DecodeStubSettings(bytes);
        EXPECT_FALSE(read.readable) << version << " " << size;
        EXPECT_EQ(read.version, version);
        EXPECT_EQ(read.size, size);
        EXPECT_EQ(read.exitCode, ExitCodeChoice::installer);
        EXPECT_EQ(read.features, 0u);
    }
    // A larger record holds the fields this version reads, as does one that ends with them.
    for (const std::uint32_t size : {80u, 4096u}) {
        package::SettingsRecordBytes bytes = BuiltRecord().bytes;
        package::Put32(bytes.data() + 20, size);
        EXPECT_TRUE(package::DecodeStubSettings(bytes).readable) << size;
    }
    for (const std::uint32_t options : {package::kKnownOptions, package::kKnownOptions + 1}) {
        package::SettingsRecordBytes bytes = BuiltRecord().bytes;
        package::Put32(bytes.data() + 76, options);
        const package::StubSettings read = package::DecodeStubSettings(bytes);
        EXPECT_EQ(read.readable, options == package::kKnownOptions) << options;
        EXPECT_EQ(read.exitCode == ExitCodeChoice::installer, options != package::kKnownOptions);
    }
}

} // namespace
