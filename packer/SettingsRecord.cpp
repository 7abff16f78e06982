#include "packer/SettingsRecord.h"

#include "packer/PackError.h"

#include "package/LittleEndian.h"

#include <algorithm>
#include <vector>

namespace packer {

namespace {

using package::kSettingsMarker;

struct MarkerSearch {
    std::size_t found = 0;    // how many markers lie in the range searched
    std::uint64_t offset = 0; // the first one's
};

MarkerSearch FindMarkers(package::ByteSource& file, std::uint64_t limit) {
    MarkerSearch search;
    limit = std::min(limit, file.Length());
    // Chunks overlap by the marker's length less one, so a marker across a boundary is found once.
    constexpr std::size_t kChunk = 64 * 1024;
    constexpr std::size_t kOverlap = kSettingsMarker.size() - 1;
    std::vector<std::uint8_t> chunk(kChunk + kOverlap);
    for (std::uint64_t start = 0; start < limit;) {
        const std::size_t wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(chunk.size(), limit - start));
        const std::size_t got = file.ReadAt(start, chunk.data(), wanted);
        if (got < kSettingsMarker.size())
            break;
        const auto end = chunk.begin() + static_cast<std::ptrdiff_t>(got);
        for (auto at = chunk.begin();;) {
            at = std::search(at, end, kSettingsMarker.begin(), kSettingsMarker.end());
            if (at == end)
                break;
            if (search.found++ == 0)
                search.offset = start + static_cast<std::uint64_t>(at - chunk.begin());
            ++at;
        }
        if (got < wanted || start + got >= limit)
            break;
        start += got - kOverlap;
    }
    return search;
}

} // namespace

SettingsRecord FindSettingsRecord(package::ByteSource& file, std::uint64_t end,
                                  const std::string& stub) {
    const MarkerSearch search = FindMarkers(file, end);
    if (search.found == 0)
        throw PackError(stub + " is too old: it has no settings record; use the stub built with "
                               "this tool");
    if (search.found > 1)
        throw PackError(stub + " holds " + std::to_string(search.found) +
                        " settings record markers, so the record it reads cannot be told");
    SettingsRecord record;
    record.offset = search.offset;
    if (end - record.offset < record.bytes.size() ||
        file.ReadAt(record.offset, record.bytes.data(), record.bytes.size()) != record.bytes.size())
        throw PackError(stub + ": its settings record at offset " + std::to_string(record.offset) +
                        " is cut off by the " +
                        (end < file.Length() ? "package" : "end of the file"));
    record.settings = package::DecodeStubSettings(record.bytes);
    if (!record.settings.readable)
        throw PackError(stub + " has a settings record of version " +
                        std::to_string(record.settings.version) + " and " +
                        std::to_string(record.settings.size) +
                        " bytes, which this tool does not read; use the tool built with the stub");
    return record;
}

void FillSettings(const package::StubSettings& settings,
                  package::SettingsRecordBytes& record) noexcept {
    package::Put64(record.data() + package::kSettingsLengthAt, settings.digest.length);
    std::copy(settings.digest.digest.begin(), settings.digest.digest.end(),
              record.begin() + package::kSettingsDigestAt);
    package::Put32(record.data() + package::kSettingsExitCodeAt,
                   settings.exitCode == package::ExitCodeChoice::installer
                       ? package::kExitCodeInstallerValue
                       : 0);
    package::Put32(record.data() + package::kSettingsWaitAt, settings.waitChildrenSeconds);
    package::Put32(record.data() + package::kSettingsOptionsAt, settings.options);
}

} // namespace packer
