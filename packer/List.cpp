#include "packer/List.h"

#include "packer/EntryNames.h"
#include "packer/Payloads.h"
#include "packer/Reading.h"

#include "package/EntryWalk.h"

namespace packer {

void ListPackage(package::ByteSource& file, std::ostream& out) {
    const package::PackageLocation location = FindPackage(file);
    const std::int32_t certificateSize =
        location.certificateSize > 0 ? location.certificateSize : 0;
    const std::uint64_t end = file.Length() - static_cast<std::uint64_t>(certificateSize);
    const package::StubSettings settings = ReadSettings(file, location.headerOffset);
    const DigestStatus digest = VerifyDigest(file, location.headerOffset, end, settings.digest);
    out << "image " << location.headerOffset << " bytes, certificate table " << certificateSize
        << " bytes, " << DigestReport(digest) << ", " << ExitCodeReport(settings) << ", "
        << WaitReport(settings) << '\n';
    const package::WalkResult result =
        package::WalkEntries(file, location.headerOffset, [&](const package::Entry& entry) {
            const PayloadView payload =
                ViewPayload(file, entry, settings.options, "entry " + std::to_string(entry.index));
            out << entry.index << '\t'
                << ShownName(package::HeaderName(entry.header), NameTextOf(settings)) << '\t'
                << entry.header.size << '\t' << entry.payloadOffset << '\t' << payload.originalSize
                << '\t' << MethodName(payload.method) << '\n';
            return true;
        });
    out.flush();
    RequireCompleteWalk(result, file);
}

} // namespace packer
