// The packing tool's side of the settings record: finding the one record in a stub by its marker,
// reading it as the stub does, and writing into it the settings the tool chooses.
#pragma once

#include "package/PackageFormat.h"
#include "package/StubSettings.h"

#include <cstdint>
#include <string>

namespace packer {

struct SettingsRecord {
    std::uint64_t offset = 0;             // of the marker in the file
    package::SettingsRecordBytes bytes{}; // as they lie in the file
    package::StubSettings settings;       // as the stub reads them
};

// The record in the first `end` bytes of `file`. Throws PackError, naming the stub as `stub` ("stub
// 'X'"), when they hold no marker (a stub too old for this tool), more than one, a record that runs
// past `end`, or one of a version or size this tool does not read.
SettingsRecord FindSettingsRecord(package::ByteSource& file, std::uint64_t end,
                                  const std::string& stub);

// Writes the package digest, the exit-code choice, the wait and the package options of `settings`
// into `record`; the marker, version, size, features and reserved room stay as they are.
void FillSettings(const package::StubSettings& settings,
                  package::SettingsRecordBytes& record) noexcept;

} // namespace packer
