#include "packer/Check.h"

#include "packer/EntryNames.h"
#include "packer/NameClashes.h"
#include "packer/PackError.h"
#include "packer/Payloads.h"
#include "packer/StubPe.h"

#include "package/EntryName.h"
#include "package/EntryWalk.h"
#include "package/LittleEndian.h"

#include <optional>
#include <string>
#include <vector>

namespace packer {

namespace {

using std::to_string;

constexpr std::uint64_t kAlignment = 8;
// Signing pads to kAlignment before the table, so a misaligned trailer ends up to 7 bytes early.
constexpr std::uint64_t kMaxSigningPadding = kAlignment - 1;

bool IsTrailer(const package::PackageEntryHeader& header) {
    return header.count == 0 && header.ordinal == package::kTrailerOrdinal &&
           header.size == header.runningTotal;
}

package::PackageEntryHeader HeaderAt(package::ByteSource& file, std::uint64_t offset) {
    std::uint8_t bytes[package::kHeaderSize] = {};
    file.ReadAt(offset, bytes, sizeof bytes);
    return package::DecodeHeader(bytes);
}

// The table is a run of WIN_CERTIFICATE records, each padded to 8 bytes: dwLength (header
// included), wRevision 0x0200, wCertificateType 2 (PKCS#7 signed data, what Authenticode uses).
void CheckCertificateRecords(package::ByteSource& file, std::uint64_t start, std::uint64_t end) {
    constexpr std::uint64_t kRecordHeaderSize = 8;
    constexpr std::uint16_t kRevision2 = 0x0200;
    constexpr std::uint16_t kPkcsSignedData = 2;
    for (std::uint64_t offset = start; offset < end;) {
        const std::string at = "the certificate record at offset " + to_string(offset);
        std::uint8_t record[kRecordHeaderSize] = {};
        if (end - offset < kRecordHeaderSize ||
            file.ReadAt(offset, record, sizeof record) != sizeof record)
            throw PackError(at + " is cut off by the end of the table");
        const std::uint32_t length = package::Get32(&record[0]);
        if (length < kRecordHeaderSize || length > end - offset)
            throw PackError(at + " claims " + to_string(length) + " bytes, but " +
                            to_string(end - offset) + " are left in the table");
        const std::uint16_t revision = package::Get16(&record[4]);
        const std::uint16_t type = package::Get16(&record[6]);
        if (revision != kRevision2 || type != kPkcsSignedData)
            throw PackError(at + " has revision " + to_string(revision) + " and type " +
                            to_string(type) + " (revision 512 and type 2 expected)");
        const std::uint64_t padded = (length + kAlignment - 1) / kAlignment * kAlignment;
        offset += padded < end - offset ? padded : end - offset;
    }
}

// Where the certificate table starts (the end of the file when unsigned), after checking that it
// runs exactly to the end of the file.
std::uint64_t CheckCertificateTable(package::ByteSource& file, const StubPe& pe) {
    const std::uint64_t length = file.Length();
    if (pe.securitySize < 0)
        throw PackError("the certificate table size is negative (" + to_string(pe.securitySize) +
                        ")");
    if (pe.securitySize == 0) {
        if (pe.securityAddress != 0)
            throw PackError("the security directory points at offset " +
                            to_string(pe.securityAddress) + " but has size 0");
        return length;
    }
    const auto size = static_cast<std::uint64_t>(pe.securitySize);
    if (size > length)
        throw PackError("the certificate table (" + to_string(size) +
                        " bytes) is larger than the file (" + to_string(length) + " bytes)");
    if (pe.securityAddress != length - size)
        throw PackError("the certificate table at offset " + to_string(pe.securityAddress) + " (" +
                        to_string(size) + " bytes) does not end at the end of the file (" +
                        to_string(length) + " bytes)");
    CheckCertificateRecords(file, length - size, length);
    return length - size;
}

// The trailer's offset, right before the certificate table.
std::uint64_t CheckTrailer(package::ByteSource& file, std::uint64_t tableStart,
                           package::PackageTrailer& trailer) {
    if (tableStart < package::kHeaderSize + package::kEndMarkerSize)
        throw PackError("the file is too short for an end marker and a trailer");
    const std::uint64_t trailerOffset = tableStart - package::kHeaderSize;
    trailer = HeaderAt(file, trailerOffset);
    if (IsTrailer(trailer))
        return trailerOffset;
    for (std::uint64_t gap = 1; gap <= kMaxSigningPadding && gap <= trailerOffset; ++gap) {
        if (IsTrailer(HeaderAt(file, trailerOffset - gap)))
            throw PackError(to_string(gap) +
                            " bytes lie between the trailer and the certificate table (padding "
                            "added by signing), so the stub cannot find the trailer");
    }
    throw PackError(
        "no trailer right before the " +
        std::string(tableStart == file.Length() ? "end of the file" : "certificate table") +
        " at offset " + to_string(trailerOffset) + " (count " + to_string(trailer.count) +
        ", ordinal " + to_string(trailer.ordinal) + ", size " + to_string(trailer.size) +
        ", running total " + to_string(trailer.runningTotal) + ")");
}

std::string EntryLabel(std::int32_t index, const package::PackageEntryHeader& header,
                       NameText text) {
    return "entry " + to_string(index) + " ('" + ShownName(package::HeaderName(header), text) +
           "')";
}

// Names the stub extracts one after the other into one folder: each must stay in it, be created
// as given, and be neither an earlier entry's file nor its folder.
void CheckName(std::int32_t index, const package::PackageEntryHeader& header, NameText text,
               StoredNames& names, std::vector<std::string>& entryNames) {
    const std::string name = package::HeaderName(header);
    const std::string problem = EntryPathProblem(name, text);
    if (!problem.empty())
        throw PackError(EntryLabel(index, header, text) + ": " + problem);
    const std::optional<NameClash> clash =
        names.Add(package::SplitEntryPath(name), entryNames.size());
    if (clash && clash->sameFile)
        throw PackError(EntryLabel(index, header, text) + ": entry " +
                        to_string(clash->earlier + 1) + " ('" + ShownName(clash->earlierName) +
                        "') names the same file when case is ignored");
    if (clash)
        throw PackError(EntryLabel(index, header, text) + ": '" + ShownName(clash->path) +
                        "' would be a file and a folder, as entry " +
                        to_string(clash->earlier + 1) + " is '" + ShownName(clash->earlierName) +
                        "'");
    entryNames.push_back(name);
}

// A stub that does not take folder trees refuses a package that holds one.
void CheckPathsTaken(const std::vector<std::string>& names, const package::StubSettings& settings) {
    if (TakesEntryPaths(settings))
        return;
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i].find('\\') != std::string::npos)
            throw PackError("entry " + to_string(i + 1) + " ('" + ShownName(names[i]) +
                            "') lies in a folder, but the stub takes no folders (its settings "
                            "record lacks the feature), and would refuse the package");
}

// A stub that does not read UTF-8 names would decode them with its machine's code page.
void CheckUtf8NamesTaken(const package::StubSettings& settings) {
    if (NameTextOf(settings) == NameText::utf8 &&
        (settings.features & package::kFeatureUtf8Names) == 0)
        throw PackError("the package's names are marked as UTF-8, but the stub reads no UTF-8 "
                        "names (its settings record lacks the feature), and would decode them "
                        "with its machine's ANSI code page");
}

// Walks the entries strictly between the first header and the end marker; returns their names.
std::vector<std::string> CheckEntries(package::ByteSource& file, std::uint64_t first,
                                      std::uint64_t marker, std::uint32_t options, NameText text,
                                      CheckSummary& summary) {
    StoredNames names;
    std::vector<std::string> entryNames;
    std::int32_t count = 0;
    std::uint64_t offset = first;
    while (offset < marker) {
        const std::int32_t index = summary.entries + 1;
        if (count > 0 && summary.entries == count)
            throw PackError(to_string(marker - offset) + " bytes lie between the last of the " +
                            to_string(count) + " entries and the end marker");
        const package::EntryAt at = package::ReadEntryAt(file, offset, marker);
        const package::PackageEntryHeader& header = at.header;
        if (at.status == package::EntryRead::readFailed)
            throw PackError("entry " + to_string(index) + ": the header at offset " +
                            to_string(offset) + " could not be read");
        if (at.status == package::EntryRead::shortHeader)
            throw PackError("entry " + to_string(index) + ": the header at offset " +
                            to_string(offset) + " runs into the end marker at " +
                            to_string(marker));
        if (index == 1) {
            count = header.count;
            if (count <= 0)
                throw PackError("the first header's count is " + to_string(count) +
                                ", so the stub would extract nothing");
        }
        const std::string label = EntryLabel(index, header, text);
        if (header.count != count)
            throw PackError(label + ": count " + to_string(header.count) +
                            " differs from the first header's " + to_string(count));
        const std::uint64_t ordinal = package::kFirstEntryOrdinal + summary.entries;
        if (header.ordinal != ordinal)
            throw PackError(label + ": ordinal " + to_string(header.ordinal) + ", expected " +
                            to_string(ordinal));
        if (at.status == package::EntryRead::payloadPastLimit)
            throw PackError(label + ": its " + to_string(header.size) + " bytes at offset " +
                            to_string(at.payloadOffset) + " run past the end marker at " +
                            to_string(marker));
        summary.payloadBytes += header.size; // bounded by the file's length
        if (header.runningTotal != summary.payloadBytes)
            throw PackError(label + ": running total " + to_string(header.runningTotal) +
                            ", expected " + to_string(summary.payloadBytes));
        CheckName(index, header, text, names, entryNames);
        package::Entry entry;
        entry.index = index;
        entry.header = header;
        entry.headerOffset = offset;
        entry.payloadOffset = at.payloadOffset;
        const PayloadView payload = ViewPayload(file, entry, options, label);
        if (payload.method != package::PayloadMethod::stored)
            ReadOriginal(
                file, payload, [](const std::uint8_t*, std::size_t) {}, label);
        summary.originalBytes += payload.originalSize;
        summary.list.push_back(
            {package::HeaderName(header), header.size, payload.originalSize, payload.method});
        ++summary.entries;
        offset = at.payloadOffset + header.size;
    }
    if (summary.entries == 0)
        throw PackError("the package has no entries");
    if (summary.entries < count)
        throw PackError("the headers announce " + to_string(count) + " entries, but only " +
                        to_string(summary.entries) + " lie before the end marker");
    return entryNames;
}

void CheckEndMarker(package::ByteSource& file, std::uint64_t marker) {
    std::uint8_t bytes[package::kEndMarkerSize] = {};
    file.ReadAt(marker, bytes, sizeof bytes);
    for (std::size_t i = 0; i < sizeof bytes; ++i)
        if (bytes[i] != package::kEndMarkerByte)
            throw PackError("the end marker at offset " + to_string(marker) + " has byte " +
                            to_string(bytes[i]) + " at position " + to_string(i) +
                            " (eight 0xFF bytes expected)");
}

} // namespace

CheckSummary CheckPackage(package::ByteSource& file) {
    StubPe pe;
    try {
        pe = ReadStubPe(file);
    } catch (const PackError& error) {
        throw PackError(std::string("not a PE image: ") + error.what());
    }
    const std::uint64_t tableStart = CheckCertificateTable(file, pe);
    package::PackageTrailer trailer;
    const std::uint64_t trailerOffset = CheckTrailer(file, tableStart, trailer);
    const std::uint64_t marker = trailerOffset - package::kEndMarkerSize;

    CheckSummary summary;
    summary.imageSize = trailer.size;
    summary.certificateSize = pe.securitySize;
    summary.pe32Plus = pe.pe32Plus;
    if (trailer.size < pe.headersEnd || trailer.size > marker)
        throw PackError("the trailer's first header offset " + to_string(trailer.size) +
                        " lies outside " + to_string(pe.headersEnd) + ".." + to_string(marker) +
                        ", the room between the PE headers and the end marker");
    // The settings say how the payloads are kept and how the names are read.
    summary.settings = ReadSettings(file, trailer.size);
    const std::vector<std::string> names =
        CheckEntries(file, trailer.size, marker, summary.settings.options,
                     NameTextOf(summary.settings), summary);
    CheckEndMarker(file, marker);
    if (tableStart % kAlignment != 0)
        throw PackError("image plus package is " + to_string(tableStart) +
                        " bytes, not a multiple of 8: signing would pad it and move the trailer "
                        "away from the certificate table");
    summary.digest = VerifyDigest(file, trailer.size, tableStart, summary.settings.digest);
    CheckPathsTaken(names, summary.settings);
    CheckUtf8NamesTaken(summary.settings);
    return summary;
}

} // namespace packer
