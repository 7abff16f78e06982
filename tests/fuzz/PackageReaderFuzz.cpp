// Arbitrary bytes taken for a stub file. The reader the stub uses (location and entry walk) and the
// packing tool's listing and checking must neither crash nor read outside the file, and they must
// agree: a file the checker accepts is one the stub extracts completely, entry for entry, under
// names that stay in its folder. The stub's verifying reader must hand out exactly the file's
// bytes, accept the package against a digest made for it, and refuse it against any other.
#include "package/EntryName.h"
#include "package/EntryWalk.h"
#include "package/PackageFormat.h"
#include "package/PackageStream.h"
#include "packer/Check.h"
#include "packer/List.h"
#include "packer/PackError.h"

#include "package/MemoryByteSource.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// A plain name, or a path of plain names for a stub that takes folders: check accepts the latter
// only when the image's settings record says so.
bool StaysInFolder(const package::PackageEntryHeader& header) {
    const std::string name = package::HeaderName(header);
    return package::IsSafeEntryPath(std::wstring(name.begin(), name.end()));
}

// What the stub would extract.
package::WalkResult WalkAsTheStub(MemoryByteSource& file, std::vector<package::Entry>& entries) {
    const package::PackageLocation location = package::LocatePackage(file);
    if (location.headerOffset != location.trailer.size)
        Broken("the first header offset is not the trailer's size field");
    return package::WalkEntries(file, location.headerOffset, [&](const package::Entry& entry) {
        if (!package::PayloadFits(entry.payloadOffset, entry.header.size, file.Length()))
            Broken("an entry handed to the visitor runs past the end of the file");
        if (package::HeaderName(entry.header).size() > package::kNameFieldSize)
            Broken("a name runs past its field");
        entries.push_back(entry);
        return true;
    });
}

void ListAsTheTool(MemoryByteSource& file) {
    std::ostringstream out;
    try {
        packer::ListPackage(file, out);
    } catch (const packer::PackError&) {
    }
}

void CheckAgainstTheWalk(MemoryByteSource& file, const package::WalkResult& walk,
                         const std::vector<package::Entry>& entries) {
    packer::CheckSummary summary;
    try {
        summary = packer::CheckPackage(file);
    } catch (const packer::PackError&) {
        return;
    }
    if (walk.end != package::WalkEnd::complete)
        Broken("the checker accepted a file the stub cannot extract completely");
    if (walk.entries != summary.entries || entries.size() != std::size_t(summary.entries))
        Broken("the checker and the stub count different entries");
    std::uint64_t payload = 0;
    for (const package::Entry& entry : entries) {
        if (!StaysInFolder(entry.header))
            Broken("the checker accepted a name the stub would not write");
        payload += entry.header.size;
    }
    if (payload != summary.payloadBytes)
        Broken("the checker and the stub see different payload sizes");
}

// Extracts through the verifying reader as the stub does, every payload read in full; the entries
// it hands out are those of the plain walk that end before `end`.
package::PackageVerdict ExtractVerifying(const std::uint8_t* data, MemoryByteSource& file,
                                         std::uint64_t start, std::uint64_t end,
                                         const package::PackageDigest& vouched,
                                         const std::vector<package::Entry>& plain) {
    package::InlineHasher hasher;
    package::PackageStream stream(file, start, end, vouched, hasher);
    std::size_t index = 0;
    package::WalkEntries(stream, start, [&](const package::Entry& entry) {
        if (index >= plain.size() || plain[index].payloadOffset != entry.payloadOffset ||
            plain[index].header.size != entry.header.size)
            Broken("the verifying reader handed out an entry the plain walk did not");
        ++index;
        const std::uint64_t payloadEnd = entry.payloadOffset + entry.header.size;
        for (std::uint64_t at = entry.payloadOffset; at < payloadEnd;) {
            const package::Chunk chunk = stream.Borrow(
                at, static_cast<std::size_t>(std::min<std::uint64_t>(payloadEnd - at, 1000)));
            if (chunk.size == 0)
                Broken("a payload within the limit could not be read");
            if (std::memcmp(chunk.data, data + at, chunk.size) != 0)
                Broken("the verifying reader handed out bytes that are not the file's");
            at += chunk.size;
        }
        return true;
    });
    return stream.Finish();
}

void VerifyAsTheStub(const std::uint8_t* data, MemoryByteSource& file,
                     const std::vector<package::Entry>& plain) {
    const package::PackageLocation location = package::LocatePackage(file);
    const std::uint64_t length = file.Length();
    const std::uint64_t table =
        location.certificateSize > 0 ? static_cast<std::uint64_t>(location.certificateSize) : 0;
    const std::uint64_t start = location.headerOffset;
    const std::uint64_t end = length - std::min(length, table);
    if (start == 0 || start > end)
        return;

    package::PackageDigest genuine;
    genuine.length = end - start;
    genuine.digest = package::Sha256Of(data + start, static_cast<std::size_t>(end - start));
    if (ExtractVerifying(data, file, start, end, genuine, plain) !=
        package::PackageVerdict::matches)
        Broken("a package was refused against the digest made for it");

    package::PackageDigest otherDigest = genuine;
    otherDigest.digest[genuine.length % 32] ^= 0x10;
    if (ExtractVerifying(data, file, start, end, otherDigest, plain) !=
        package::PackageVerdict::digestDiffers)
        Broken("a package was not refused against another digest");

    package::PackageDigest otherLength = genuine;
    otherLength.length += (genuine.length % 2 == 0 || genuine.length == 0) ? 1 : -1;
    if (ExtractVerifying(data, file, start, end, otherLength, plain) !=
        package::PackageVerdict::lengthDiffers)
        Broken("a package was not refused against another length");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemoryByteSource file(data, size);
    std::vector<package::Entry> entries;
    const package::WalkResult walk = WalkAsTheStub(file, entries);
    ListAsTheTool(file);
    CheckAgainstTheWalk(file, walk, entries);
    VerifyAsTheStub(data, file, entries);
    return 0;
}
