#include "package/StubSettings.h"

#include "package/LittleEndian.h"

#include <algorithm>
#include <cstring>

namespace package {

bool PackageDigest::Filled() const noexcept {
    return length != 0 ||
           std::any_of(digest.begin(), digest.end(), [](std::uint8_t byte) { return byte != 0; });
}

StubSettings DecodeStubSettings(const SettingsRecordBytes& record) noexcept {
    StubSettings settings;
    settings.version = Get32(record.data() + kSettingsVersionAt);
    settings.size = Get32(record.data() + kSettingsSizeAt);
    if (settings.version != kSettingsVersion || settings.size < kSettingsFieldsEnd) {
        // Nothing of a record this reader cannot place is taken; a refusal is not reported as 0.
        settings.readable = false;
        settings.exitCode = ExitCodeChoice::installer;
        return settings;
    }
    settings.digest.length = Get64(record.data() + kSettingsLengthAt);
    std::memcpy(settings.digest.digest.data(), record.data() + kSettingsDigestAt,
                settings.digest.digest.size());
    settings.exitCodeValue = Get32(record.data() + kSettingsExitCodeAt);
    settings.exitCode =
        settings.exitCodeValue == 0 ? ExitCodeChoice::zero : ExitCodeChoice::installer;
    settings.waitChildrenSeconds =
        std::min(Get32(record.data() + kSettingsWaitAt), kMaxWaitChildrenSeconds);
    settings.features = Get32(record.data() + kSettingsFeaturesAt);
    settings.options = Get32(record.data() + kSettingsOptionsAt);
    if ((settings.options & ~kKnownOptions) != 0) {
        // An option changes how the package reads: one this reader does not know is not ignored.
        settings.readable = false;
        settings.exitCode = ExitCodeChoice::installer;
    }
    return settings;
}

} // namespace package
