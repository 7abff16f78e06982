#include "packer/Create.h"

#include "packer/DigestSlotFill.h"
#include "packer/EntryNames.h"
#include "packer/ExitCodeSlotFill.h"
#include "packer/FileIo.h"
#include "packer/PackError.h"
#include "packer/StubPe.h"

#include "package/DigestSlot.h"
#include "package/LittleEndian.h"
#include "package/PackageFormat.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <system_error>

namespace packer {

namespace fs = std::filesystem;

namespace {

struct Input {
    fs::path path;
    std::string name;
    std::uint64_t size = 0;
};

std::uint64_t CheckedAdd(std::uint64_t a, std::uint64_t b) {
    if (a > UINT64_MAX - b)
        throw PackError("the package would be larger than 2^64 bytes");
    return a + b;
}

std::vector<Input> CheckInputs(const std::vector<fs::path>& files) {
    if (files.empty())
        throw PackError("no files to pack");
    if (files.size() > static_cast<std::size_t>(INT32_MAX))
        throw PackError("too many files for one package");
    std::vector<Input> inputs;
    std::map<std::string, std::string> folded; // folded name -> name as given
    for (const fs::path& path : files) {
        Input input{path, path.filename().u8string(), 0};
        const std::string problem = NameProblem(input.name);
        if (!problem.empty())
            throw PackError("cannot pack " + QuotedPath(path) + " under the name '" +
                            Printable(input.name) + "': " + problem);
        const auto [it, added] = folded.emplace(FoldCase(input.name), input.name);
        if (!added)
            throw PackError(
                "cannot pack " + QuotedPath(path) + ": its name '" + input.name + "' matches '" +
                it->second +
                "' when case is ignored, and Windows would overwrite one with the other");
        input.size = InputFile(path).Length();
        inputs.push_back(input);
    }
    return inputs;
}

// The one slot a search found in the stub, named `what` in the refusals: two markers are no stub
// this tool knows, and a slot must lie within the file. `missing` is the refusal for none.
std::uint64_t OneSlot(const SlotSearch& slot, std::uint64_t slotSize, InputFile& stub,
                      const fs::path& path, const std::string& what, const std::string& missing) {
    if (slot.found == 0)
        throw PackError("stub " + QuotedPath(path) + " has no " + what + ", " + missing +
                        "; use the stub built with this tool");
    if (slot.found > 1)
        throw PackError("stub " + QuotedPath(path) + " holds " + std::to_string(slot.found) + " " +
                        what + " markers; it is not a stub this tool knows");
    if (slot.offset + slotSize > stub.Length())
        throw PackError("stub " + QuotedPath(path) + ": its " + what +
                        " is cut off by the end of the file");
    return slot.offset;
}

// Where the stub keeps its digest slot: exactly one, or the stub cannot vouch for its package.
std::uint64_t FindSlot(InputFile& stub, const fs::path& path) {
    return OneSlot(FindDigestSlot(stub, stub.Length()), package::kDigestSlotSize, stub, path,
                   "digest slot", "so it could not check its package");
}

// Where the stub keeps its exit-code slot, if it has one as built: a stub older than the slot
// packs as before, but only with the zero choice it always had.
std::optional<std::uint64_t> FindChoiceSlot(InputFile& stub, const fs::path& path,
                                            package::ExitCodeChoice choice) {
    const SlotSearch slot = FindExitCodeSlot(stub, stub.Length());
    if (slot.found == 0 && choice == package::ExitCodeChoice::zero)
        return std::nullopt;
    const std::uint64_t offset =
        OneSlot(slot, package::kExitCodeSlotSize, stub, path, "exit-code slot",
                "so it cannot pass the installer's exit code on");
    std::uint8_t bytes[package::kExitCodeSlotSize] = {};
    if (stub.ReadAt(offset, bytes, sizeof bytes) != sizeof bytes)
        throw PackError("stub " + QuotedPath(path) +
                        ": its exit-code slot is cut off by the end of the file");
    // The stub as built holds zero; anything else, left as it is for zero, would pass outcomes on
    // unasked.
    const std::uint32_t value = ExitCodeSlotValue(bytes);
    if (value != 0)
        throw PackError("stub " + QuotedPath(path) + ": its exit-code slot already holds " +
                        std::to_string(value) + "; pack the stub as built");
    return offset;
}

void CheckStub(InputFile& stub, const fs::path& path) {
    StubPe pe;
    try {
        pe = ReadStubPe(stub);
    } catch (const PackError& error) {
        throw PackError("stub " + QuotedPath(path) + " is not a PE image: " + error.what());
    }
    if (pe.securitySize != 0 || pe.securityAddress != 0)
        throw PackError("stub " + QuotedPath(path) + " is already signed (certificate table of " +
                        std::to_string(pe.securitySize) +
                        " bytes); pack the unsigned stub and sign the result");
    const package::PackageLocation location = package::LocatePackage(stub);
    const package::PackageTrailer& trailer = location.trailer;
    const std::uint64_t length = stub.Length();
    const bool looksPackaged =
        location.trailerRead && trailer.count == 0 && trailer.ordinal == package::kTrailerOrdinal &&
        trailer.size == trailer.runningTotal && trailer.size >= pe.headersEnd &&
        length >= package::kHeaderSize + package::kEndMarkerSize &&
        trailer.size <= length - package::kHeaderSize - package::kEndMarkerSize;
    if (looksPackaged)
        throw PackError("stub " + QuotedPath(path) +
                        " already carries a package (its trailer names '" +
                        Printable(package::HeaderName(trailer)) + "', first header at " +
                        std::to_string(trailer.size) + "); pack the bare stub");
}

// The same path once links and "." / ".." are resolved, or two names of one file (a hard link,
// or another spelling on a case-insensitive file system).
bool SameFile(const fs::path& a, const fs::path& b) {
    std::error_code errorA;
    std::error_code errorB;
    const fs::path canonicalA = fs::weakly_canonical(a, errorA);
    const fs::path canonicalB = fs::weakly_canonical(b, errorB);
    if (!errorA && !errorB && canonicalA == canonicalB)
        return true;
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

void CheckOutput(const CreateRequest& request) {
    const std::string name = request.output.filename().u8string();
    if (name.empty() || name == "." || name == "..")
        throw PackError("output " + QuotedPath(request.output) + " does not name a file");
    if (name.size() > package::kMaxNameBytes)
        throw PackError("the output's file name is " + std::to_string(name.size()) +
                        " bytes long; at most " + std::to_string(package::kMaxNameBytes) +
                        " fit the trailer");
    if (SameFile(request.output, request.stub))
        throw PackError("output " + QuotedPath(request.output) + " is the stub itself");
    for (const fs::path& file : request.files)
        if (SameFile(request.output, file))
            throw PackError("output " + QuotedPath(request.output) + " is the input " +
                            QuotedPath(file));
}

void WriteHeader(PendingOutput& out, const package::PackageEntryHeader& header) {
    const package::HeaderBytes bytes = package::EncodeHeader(header);
    out.Write(bytes.data(), bytes.size());
}

} // namespace

CreateSummary CreatePackage(const CreateRequest& request) {
    const std::vector<Input> inputs = CheckInputs(request.files);
    InputFile stub(request.stub);
    CheckStub(stub, request.stub);
    const std::uint64_t slotOffset = FindSlot(stub, request.stub);
    const std::optional<std::uint64_t> choiceOffset =
        FindChoiceSlot(stub, request.stub, request.exitCode);
    CheckOutput(request);

    CreateSummary summary;
    summary.entries = inputs.size();
    std::uint64_t packageSize = package::kEndMarkerSize + package::kHeaderSize;
    for (const Input& input : inputs) {
        summary.payloadBytes = CheckedAdd(summary.payloadBytes, input.size);
        packageSize = CheckedAdd(packageSize, CheckedAdd(package::kHeaderSize, input.size));
    }
    const std::uint64_t unpadded = CheckedAdd(stub.Length(), packageSize);
    summary.padding = (8 - unpadded % 8) % 8;
    summary.imageSize = stub.Length() + summary.padding;
    summary.fileSize = CheckedAdd(unpadded, summary.padding);

    PendingOutput out(request.output, request.existingOutput);
    CopyRange(stub, 0, stub.Length(), out, "stub " + QuotedPath(request.stub));
    out.WriteZeros(static_cast<std::size_t>(summary.padding));

    // The slot vouches for everything from here to the end of the trailer.
    package::Sha256 digest;
    out.HashFromHere(&digest);
    package::PackageEntryHeader header;
    header.count = static_cast<std::int32_t>(inputs.size());
    header.ordinal = package::kFirstEntryOrdinal;
    for (const Input& input : inputs) {
        InputFile file(input.path);
        if (file.Length() != input.size)
            throw PackError(QuotedPath(input.path) + " changed size while it was being packed");
        header.size = input.size;
        header.runningTotal += input.size;
        SetHeaderName(header, input.name); // fits: checked with the other names
        WriteHeader(out, header);
        CopyRange(file, 0, input.size, out, QuotedPath(input.path));
        ++header.ordinal;
    }

    const std::uint8_t marker[package::kEndMarkerSize] = {0xFF, 0xFF, 0xFF, 0xFF,
                                                          0xFF, 0xFF, 0xFF, 0xFF};
    out.Write(marker, sizeof marker);

    package::PackageTrailer trailer;
    trailer.count = 0;
    trailer.ordinal = package::kTrailerOrdinal;
    trailer.size = summary.imageSize;
    trailer.runningTotal = summary.imageSize;
    SetHeaderName(trailer, request.output.filename().u8string());
    WriteHeader(out, trailer);
    out.HashFromHere(nullptr);

    package::DigestSlot slot;
    slot.length = summary.fileSize - summary.imageSize;
    slot.digest = digest.Final();
    const DigestSlotBytes slotBytes = EncodeDigestSlot(slot);
    out.Overwrite(slotOffset, slotBytes.data(), slotBytes.size());
    summary.digest = slot.digest;
    if (request.exitCode != package::ExitCodeChoice::zero) {
        std::uint8_t value[4];
        package::Put32(value, ExitCodeValue(request.exitCode));
        out.Overwrite(*choiceOffset + package::kExitCodeSlotMarkerSize, value, sizeof value);
    }

    out.Commit();
    return summary;
}

} // namespace packer
