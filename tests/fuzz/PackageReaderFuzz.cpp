// Arbitrary bytes taken for a stub file. The reader the stub uses (location and entry walk) and the
// packing tool's listing and checking must neither crash nor read outside the file, and they must
// agree: a file the checker accepts is one the stub extracts completely, entry for entry, under
// names that stay in its folder.
#include "package/EntryWalk.h"
#include "package/PackageFormat.h"
#include "packer/Check.h"
#include "packer/List.h"
#include "packer/PackError.h"

#include "tests/support/MemoryByteSource.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

bool StaysInFolder(const package::PackageEntryHeader& header) {
    const std::string name = package::HeaderName(header);
    return package::IsPlainFileName(std::wstring(name.begin(), name.end()));
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

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    MemoryByteSource file(data, size);
    std::vector<package::Entry> entries;
    const package::WalkResult walk = WalkAsTheStub(file, entries);
    ListAsTheTool(file);
    CheckAgainstTheWalk(file, walk, entries);
    return 0;
}
