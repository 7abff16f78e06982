#include "packer/Create.h"

#include "packer/Compression.h"
#include "packer/EntryNames.h"
#include "packer/FileIo.h"
#include "packer/NameClashes.h"
#include "packer/PackError.h"
#include "packer/PackSources.h"
#include "packer/SettingsRecord.h"
#include "packer/StubPe.h"
#include "packer/Utf8.h"

#include "package/PackageFormat.h"
#include "package/PayloadHeader.h"
#include "package/StubSettings.h"

#include <algorithm>
#include <cstdint>
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
    KeptEntry kept;
};

std::uint64_t CheckedAdd(std::uint64_t a, std::uint64_t b) {
    if (a > UINT64_MAX - b)
        throw PackError("the package would be larger than 2^64 bytes");
    return a + b;
}

// The refusal of `sources[index]`, whose name clashes with one packed before it.
std::string ClashRefusal(const std::vector<PackSource>& sources, std::size_t index,
                         const NameClash& clash) {
    const std::string name = JoinEntryPath(sources[index].parts);
    const std::string earlier = QuotedPath(sources[clash.earlier].path) + " is packed as '" +
                                ShownName(clash.earlierName) + "'";
    const std::string refusal =
        "cannot pack " + QuotedPath(sources[index].path) + " as '" + ShownName(name) + "': ";
    if (clash.sameFile)
        return refusal + earlier +
               ", the same name when case is ignored, and Windows would overwrite one with the "
               "other";
    return refusal + "'" + ShownName(clash.path) + "' would be a file and a folder, as " + earlier;
}

std::vector<Input> CheckInputs(const std::vector<PackSource>& sources) {
    if (sources.empty())
        throw PackError("no files to pack");
    if (sources.size() > static_cast<std::size_t>(INT32_MAX))
        throw PackError("too many files for one package");
    std::vector<Input> inputs;
    StoredNames names;
    for (std::size_t i = 0; i < sources.size(); ++i) {
        const PackSource& source = sources[i];
        Input input{source.path, JoinEntryPath(source.parts), 0, {}};
        const std::string problem = StoredNameProblem(source.parts);
        if (!problem.empty())
            throw PackError("cannot pack " + QuotedPath(source.path) + " under the name '" +
                            ShownName(input.name) + "': " + problem);
        if (const std::optional<NameClash> clash = names.Add(source.parts, i))
            throw PackError(ClashRefusal(sources, i, *clash));
        input.size = InputFile(source.path).Length();
        inputs.push_back(input);
    }
    return inputs;
}

// A stub that does not take folder trees refuses a package that holds one.
void RequireTreesTaken(const std::vector<Input>& inputs, const package::StubSettings& settings,
                       const fs::path& stub) {
    if ((settings.features & package::kFeatureEntryPaths) != 0)
        return;
    const auto inFolder = std::find_if(inputs.begin(), inputs.end(), [](const Input& input) {
        return input.name.find('\\') != std::string::npos;
    });
    if (inFolder == inputs.end())
        return;
    throw PackError("stub " + QuotedPath(stub) +
                    " takes no folders in its package (its settings record lacks the feature), "
                    "and would refuse '" +
                    ShownName(inFolder->name) + "' from " + QuotedPath(inFolder->path) +
                    "; pack files alone, or use the stub built with this tool");
}

// Compresses what shrinks; true when some entry is kept compressed. A stub that reads no compressed
// payloads refuses a package with one.
bool CompressInputs(std::vector<Input>& inputs, const package::StubSettings& settings,
                    const fs::path& stub) {
    bool compressed = false;
    for (Input& input : inputs) {
        InputFile file(input.path);
        input.kept = KeepEntry(file, input.size, QuotedPath(input.path));
        if (input.kept.method == package::PayloadMethod::stored)
            continue;
        compressed = true;
        if ((settings.features & package::kFeatureCompressedPayloads) == 0)
            throw PackError("stub " + QuotedPath(stub) +
                            " reads no compressed payloads (its settings record lacks the "
                            "feature), and " +
                            QuotedPath(input.path) +
                            " would be compressed; pack with --store, or use the stub built with "
                            "this tool");
    }
    return compressed;
}

// The names in a package beyond ASCII, the output's in the trailer included, are marked as
// UTF-8; a package of ASCII names is stored as ever.
std::uint32_t NamesOption(const std::vector<Input>& inputs, const fs::path& output) {
    const bool ascii =
        IsAscii(output.filename().u8string()) &&
        std::all_of(inputs.begin(), inputs.end(), [](const Input& in) { return IsAscii(in.name); });
    return ascii ? 0 : package::kOptionUtf8Names;
}

// A stub that does not read UTF-8 names would decode them with its machine's code page.
void RequireUtf8NamesTaken(const std::vector<Input>& inputs, const fs::path& output,
                           const package::StubSettings& settings, const fs::path& stub) {
    if ((settings.features & package::kFeatureUtf8Names) != 0 || NamesOption(inputs, output) == 0)
        return;
    const auto beyond = std::find_if(inputs.begin(), inputs.end(),
                                     [](const Input& input) { return !IsAscii(input.name); });
    const std::string what =
        beyond == inputs.end()
            ? "the output's name " + QuotedPath(output.filename())
            : "'" + ShownName(beyond->name) + "' from " + QuotedPath(beyond->path);
    throw PackError("stub " + QuotedPath(stub) +
                    " reads no UTF-8 names (its settings record lacks the feature), and would "
                    "decode " +
                    what +
                    " with its machine's ANSI code page; use ASCII names, or the stub "
                    "built with this tool");
}

// The stub as built holds no digest and the zero choice; a record filled already would vouch
// for another package, or pass outcomes on unasked when left as it is for zero.
void RequireAsBuilt(const package::StubSettings& settings, const fs::path& stub) {
    const std::string refusal = "stub " + QuotedPath(stub) + ": its settings record already ";
    if (settings.digest.Filled())
        throw PackError(refusal + "vouches for a package of " +
                        std::to_string(settings.digest.length) + " bytes; pack the stub as built");
    if (settings.exitCodeValue != 0)
        throw PackError(refusal + "holds the exit-code choice " +
                        std::to_string(settings.exitCodeValue) + "; pack the stub as built");
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

void CheckOutput(const CreateRequest& request, const std::vector<Input>& inputs) {
    const std::string name = request.output.filename().u8string();
    if (name.empty() || name == "." || name == "..")
        throw PackError("output " + QuotedPath(request.output) + " does not name a file");
    if (const Utf8Text decoded = DecodeUtf8(name); decoded.fault != Utf8Fault::none)
        throw PackError("output " + QuotedPath(request.output) +
                        ": its name is not UTF-8, which the trailer holds it as");
    if (name.size() > package::kMaxNameBytes)
        throw PackError("the output's file name is " + ShownLength(name) + "; at most " +
                        std::to_string(package::kMaxNameBytes) + " fit the trailer");
    if (SameFile(request.output, request.stub))
        throw PackError("output " + QuotedPath(request.output) + " is the stub itself");
    for (const Input& input : inputs)
        if (SameFile(request.output, input.path))
            throw PackError("output " + QuotedPath(request.output) + " is the input " +
                            QuotedPath(input.path));
}

void WriteHeader(PendingOutput& out, const package::PackageEntryHeader& header) {
    const package::HeaderBytes bytes = package::EncodeHeader(header);
    out.Write(bytes.data(), bytes.size());
}

} // namespace

CreateSummary CreatePackage(const CreateRequest& request) {
    if (request.waitChildrenSeconds > package::kMaxWaitChildrenSeconds)
        throw PackError("the wait for children is " + std::to_string(request.waitChildrenSeconds) +
                        " s; at most " + std::to_string(package::kMaxWaitChildrenSeconds) +
                        " s are taken");
    std::vector<Input> inputs = CheckInputs(CollectSources(request.files));
    InputFile stub(request.stub);
    CheckStub(stub, request.stub);
    const SettingsRecord record =
        FindSettingsRecord(stub, stub.Length(), "stub " + QuotedPath(request.stub));
    RequireAsBuilt(record.settings, request.stub);
    RequireTreesTaken(inputs, record.settings, request.stub);
    CheckOutput(request, inputs);
    const bool payloadHeaders =
        !request.store && CompressInputs(inputs, record.settings, request.stub);
    const std::uint64_t payloadHeaderSize = payloadHeaders ? package::kPayloadHeaderSize : 0;
    RequireUtf8NamesTaken(inputs, request.output, record.settings, request.stub);

    CreateSummary summary;
    summary.entries = inputs.size();
    std::uint64_t packageSize = package::kEndMarkerSize + package::kHeaderSize;
    for (const Input& input : inputs) {
        summary.names.push_back(input.name);
        summary.payloadBytes = CheckedAdd(summary.payloadBytes, input.size);
        const std::uint64_t stored = payloadHeaderSize + input.kept.StoredSize(input.size);
        summary.storedBytes = CheckedAdd(summary.storedBytes, stored);
        if (input.kept.method != package::PayloadMethod::stored)
            ++summary.compressed;
        packageSize = CheckedAdd(packageSize, CheckedAdd(package::kHeaderSize, stored));
    }
    const std::uint64_t unpadded = CheckedAdd(stub.Length(), packageSize);
    summary.padding = (8 - unpadded % 8) % 8;
    summary.imageSize = stub.Length() + summary.padding;
    summary.fileSize = CheckedAdd(unpadded, summary.padding);

    PendingOutput out(request.output, request.existingOutput);
    CopyRange(stub, 0, stub.Length(), out, "stub " + QuotedPath(request.stub));
    out.WriteZeros(static_cast<std::size_t>(summary.padding));

    // The digest vouches for everything from here to the end of the trailer.
    package::Sha256 digest;
    out.HashFromHere(&digest);
    package::PackageEntryHeader header;
    header.count = static_cast<std::int32_t>(inputs.size());
    header.ordinal = package::kFirstEntryOrdinal;
    for (Input& input : inputs) {
        InputFile file(input.path);
        if (file.Length() != input.size)
            throw PackError(QuotedPath(input.path) + " changed size while it was being packed");
        header.size = payloadHeaderSize + input.kept.StoredSize(input.size);
        header.runningTotal += header.size;
        SetHeaderName(header, input.name); // fits: checked with the other names
        WriteHeader(out, header);
        if (payloadHeaders) {
            std::uint8_t bytes[package::kPayloadHeaderSize];
            package::EncodePayloadHeader({input.kept.method, input.size}, bytes);
            out.Write(bytes, sizeof bytes);
        }
        if (input.kept.method == package::PayloadMethod::stored) {
            CopyRange(file, 0, input.size, out, QuotedPath(input.path));
        } else {
            out.Write(input.kept.stream.data(), input.kept.stream.size());
            std::vector<std::uint8_t>().swap(input.kept.stream); // written: no longer held
        }
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

    package::StubSettings settings;
    settings.digest.length = summary.fileSize - summary.imageSize;
    settings.digest.digest = digest.Final();
    settings.exitCode = request.exitCode;
    settings.waitChildrenSeconds = request.waitChildrenSeconds;
    settings.options = (payloadHeaders ? package::kOptionCompressedPayloads : 0) |
                       NamesOption(inputs, request.output);
    package::SettingsRecordBytes bytes = record.bytes;
    FillSettings(settings, bytes);
    out.Overwrite(record.offset, bytes.data(), bytes.size());
    summary.digest = settings.digest.digest;

    out.Commit();
    return summary;
}

} // namespace packer
