#include "packer/Create.h"

#include "packer/EntryNames.h"
#include "packer/FileIo.h"
#include "packer/PackError.h"
#include "packer/Payloads.h"
#include "packer/Reading.h"

#include "package/EntryWalk.h"

#include "package/Sha256.h"
#include "package/StubSettings.h"

#include "tests/packer/TempFolder.h"
#include "tests/support/FakeStub.h"
#include "package/MemoryByteSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using packer::CreatePackage;
constexpr std::size_t kExitCode = fake::kSettingsOffset + 64;
constexpr std::size_t kWait = fake::kSettingsOffset + 68;
constexpr std::size_t kFeatures = fake::kSettingsOffset + 72;
constexpr std::size_t kOptions = fake::kSettingsOffset + 76;
using packer::CreateRequest;
using packer::PackError;

// A stub, its input files and the output path, all in one fresh folder.
class Packing : public testing::Test {
protected:
    fs::path AddStub(const fake::Bytes& image, const std::string& name = "stub.exe") {
        const fs::path path = folder_ / name;
        WriteBytes(path, image);
        request_.stub = path;
        return path;
    }

    fs::path AddFile(const std::string& name, const fake::Bytes& content) {
        fs::create_directories(folder_ / "in");
        const fs::path path = folder_ / "in" / name;
        WriteBytes(path, content);
        request_.files.push_back(path);
        return path;
    }

    fs::path Output(const std::string& name = "setup.exe") {
        request_.output = folder_ / name;
        return request_.output;
    }

    // A folder of files under in/, each holding its own path as text.
    fs::path AddTree(const std::string& folder, const std::vector<std::string>& files) {
        for (const std::string& file : files) {
            const fs::path path = folder_ / "in" / folder / file;
            fs::create_directories(path.parent_path());
            WriteBytes(path, fake::Bytes(file.begin(), file.end()));
        }
        request_.files.push_back(folder_ / "in" / folder);
        return folder_ / "in" / folder;
    }

    // The refusal's text; fails the test when nothing was refused.
    std::string Refusal() {
        try {
            CreatePackage(request_);
        } catch (const PackError& error) {
            return error.what();
        }
        ADD_FAILURE() << "the request was not refused";
        return {};
    }

    TempFolder folder_;
    CreateRequest request_;
};

// What the tool writes for `entries` on `image` with its defaults: the package, and in the settings
// record the digest that vouches for it and the installer choice.
fake::Bytes Packed(const fake::Bytes& image, const std::vector<fake::Entry>& entries,
                   const std::string& output = "setup.exe") {
    fake::Bytes file = fake::Package(image, entries, output);
    fake::FillDigest(file, image.size(), file.size());
    fake::Put32(file, kExitCode, 1);
    return file;
}

// ---- The layout written -------------------------------------------------------------------------

TEST_F(Packing, WritesImageEntriesMarkerAndTrailerByteForByte) {
    const fake::Bytes image = fake::PeImage(1000);
    AddStub(image);
    const std::vector<fake::Entry> entries = {{"setup.msi", fake::Pattern(1025, 3)},
                                              {"run.bat", fake::Pattern(15, 9)},
                                              {"empty.ini", {}}};
    for (const fake::Entry& entry : entries)
        AddFile(entry.name, entry.payload);
    Output("inst.exe");
    request_.store = true;

    const packer::CreateSummary summary = CreatePackage(request_);

    // Stored, as ever: 1000 + 3 * 284 + 1040 payload + 8 + 284 = 3184, a multiple of 8: no padding
    // needed. The image differs from the stub in its settings record alone.
    const fake::Bytes expected = Packed(image, entries, "inst.exe");
    EXPECT_EQ(ReadBytes(folder_ / "inst.exe"), expected);
    EXPECT_EQ(summary.padding, 0u);
    EXPECT_EQ(summary.imageSize, 1000u);
    EXPECT_EQ(summary.entries, 3u);
    EXPECT_EQ(summary.payloadBytes, 1040u);
    EXPECT_EQ(summary.fileSize, expected.size());
}

// What shrinks is compressed, and then every payload opens with its payload header and the options
// say so; what does not shrink (random bytes, a few bytes) stays as it is. Each file reads back
// whole through the payloads as the stub reads them.
TEST_F(Packing, CompressesWhatShrinksAndStoresTheRest) {
    AddStub(fake::PeImage(1000));
    std::string text;
    for (int line = 0; line < 2000; ++line)
        text += "line " + std::to_string(line) + ": the same words again\r\n";
    std::mt19937 random(7);
    fake::Bytes noise(5000);
    for (std::uint8_t& byte : noise)
        byte = static_cast<std::uint8_t>(random());
    const std::vector<fake::Entry> entries = {{"readme.txt", fake::Bytes(text.begin(), text.end())},
                                              {"noise.bin", noise},
                                              {"run.bat", fake::Pattern(15)}};
    for (const fake::Entry& entry : entries)
        AddFile(entry.name, entry.payload);
    Output();

    const packer::CreateSummary summary = CreatePackage(request_);

    EXPECT_EQ(summary.compressed, 1u);
    EXPECT_EQ(summary.payloadBytes, text.size() + noise.size() + 15);
    EXPECT_LT(summary.storedBytes, text.size() / 4 + noise.size() + 15 + 3 * 16);
    const fake::Bytes file = ReadBytes(request_.output);
    MemoryByteSource source(file);
    const package::StubSettings settings = packer::ReadSettings(source, summary.imageSize);
    EXPECT_EQ(settings.options, package::kOptionCompressedPayloads);
    std::vector<package::PayloadMethod> methods;
    package::WalkEntries(source, summary.imageSize, [&](const package::Entry& entry) {
        const packer::PayloadView payload =
            packer::ViewPayload(source, entry, settings.options, "entry");
        methods.push_back(payload.method);
        fake::Bytes original;
        packer::ReadOriginal(
            source, payload,
            [&](const std::uint8_t* data, std::size_t size) {
                original.insert(original.end(), data, data + size);
            },
            "entry");
        EXPECT_EQ(original, entries[static_cast<std::size_t>(entry.index - 1)].payload);
        return true;
    });
    EXPECT_EQ(methods, (std::vector<package::PayloadMethod>{package::PayloadMethod::lzma,
                                                            package::PayloadMethod::stored,
                                                            package::PayloadMethod::stored}));

    // Nothing that shrinks: no option, no payload headers, the layout as ever.
    request_.files.clear();
    fs::remove(request_.output);
    AddFile("noise.bin", noise);
    EXPECT_EQ(CreatePackage(request_).compressed, 0u);
    EXPECT_EQ(ReadBytes(request_.output), Packed(fake::PeImage(1000), {{"noise.bin", noise}}));
}

// A stub that reads no compressed payloads gets what would be compressed only as --store keeps it.
TEST_F(Packing, AStubWithoutCompressedPayloadsTakesThemStored) {
    fake::Bytes image = fake::PeImage(1000);
    fake::Put32(image, kFeatures, package::kFeatureEntryPaths);
    AddStub(image);
    AddFile("setup.msi", fake::Bytes(3000, 'x'));
    Output();
    EXPECT_NE(Refusal().find("reads no compressed payloads (its settings record lacks the "
                             "feature), and"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(request_.output));
    request_.store = true;
    CreatePackage(request_);
    EXPECT_EQ(ReadBytes(request_.output), Packed(image, {{"setup.msi", fake::Bytes(3000, 'x')}}));
}

TEST_F(Packing, PadsTheImageSoThatImagePlusPackageIsAMultipleOf8) {
    request_.existingOutput = packer::Existing::replace; // one output, written over each round
    for (std::size_t imageSize = 1000; imageSize < 1008; ++imageSize) {
        const fake::Bytes image = fake::PeImage(imageSize);
        AddStub(image);
        request_.files.clear();
        AddFile("a.txt", fake::Pattern(5));
        Output();

        const packer::CreateSummary summary = CreatePackage(request_);

        const fake::Bytes written = ReadBytes(request_.output);
        EXPECT_EQ(written.size() % 8, 0u) << "image of " << imageSize << " bytes";
        EXPECT_LT(summary.padding, 8u);
        // The padding belongs to the image: the trailer's S covers it, and it is zeros.
        fake::Bytes padded = image;
        padded.resize(imageSize + summary.padding, 0);
        EXPECT_EQ(written, Packed(padded, {{"a.txt", fake::Pattern(5)}}))
            << "image of " << imageSize << " bytes";
    }
}

TEST_F(Packing, AcceptsA64BitStub) {
    const fake::Bytes image = fake::PeImage(1024, fake::PeKind::pe32Plus);
    AddStub(image);
    AddFile("run.bat", fake::Pattern(16));
    Output();
    CreatePackage(request_);
    fake::Bytes written = ReadBytes(request_.output);
    EXPECT_EQ(written.size() % 8, 0u);
    EXPECT_EQ(written, Packed(image, {{"run.bat", fake::Pattern(16)}}));
}

// The digest vouches for the package, from the first header to the end of the trailer: the same
// inputs give the same bytes, and another package gives another digest.
TEST_F(Packing, FillsTheDigestReproducibly) {
    AddStub(fake::PeImage(1000));
    AddFile("setup.msi", fake::Pattern(300000, 1));
    Output();
    const packer::CreateSummary first = CreatePackage(request_);
    const fake::Bytes written = ReadBytes(request_.output);
    fs::rename(request_.output, folder_ / "first.exe");
    const packer::CreateSummary second = CreatePackage(request_);
    EXPECT_EQ(ReadBytes(request_.output), written);
    EXPECT_EQ(second.digest, first.digest);

    const auto recorded = written.begin() + fake::kSettingsOffset + 32;
    EXPECT_EQ(fake::Bytes(recorded, recorded + 32),
              fake::Bytes(first.digest.begin(), first.digest.end()));
    EXPECT_EQ(package::Sha256Of(written.data() + first.imageSize, written.size() - first.imageSize),
              first.digest);

    fs::remove(request_.output);
    request_.files.clear();
    AddFile("setup.msi", fake::Pattern(300000, 2));
    EXPECT_NE(CreatePackage(request_).digest, first.digest);
}

// The choice goes into the image, which the signature covers, and nowhere else: zero leaves the
// stub's choice as built, and the package and its digest are the same.
TEST_F(Packing, TheExitCodeChoiceChangesTheImageAlone) {
    const fake::Bytes image = fake::PeImage(1000);
    AddStub(image);
    AddFile("run.bat", fake::Pattern(16));
    Output();
    CreatePackage(request_);
    fake::Bytes expected = Packed(image, {{"run.bat", fake::Pattern(16)}});
    EXPECT_EQ(ReadBytes(request_.output), expected);
    fs::remove(request_.output);

    request_.exitCode = package::ExitCodeChoice::zero;
    CreatePackage(request_);
    fake::Put32(expected, kExitCode, 0);
    EXPECT_EQ(ReadBytes(request_.output), expected);
}

// The wait goes into the settings record; the features the stub was built with and the reserved
// room stay as they are.
TEST_F(Packing, TheWaitForChildrenChangesTheWaitAlone) {
    fake::Bytes image = fake::PeImage(1000);
    fake::Put32(image, kFeatures, 0xA5000001);
    fake::Put32(image, fake::kSettingsOffset + 124, 0x5A5A5A5A); // the record's last bytes
    AddStub(image);
    AddFile("run.bat", fake::Pattern(16));
    request_.existingOutput = packer::Existing::replace;
    Output();
    for (const std::uint32_t seconds : {600u, 0u, 604800u}) {
        request_.waitChildrenSeconds = seconds;
        CreatePackage(request_);
        fake::Bytes expected = Packed(image, {{"run.bat", fake::Pattern(16)}});
        fake::Put32(expected, kWait, seconds);
        EXPECT_EQ(ReadBytes(request_.output), expected) << seconds;
    }
}

TEST_F(Packing, AFileAppearingAtTheOutputWhileWritingIsNotReplaced) {
    {
        packer::PendingOutput out(Output(), packer::Existing::refuse);
        out.Write("new", 3);
        WriteBytes(request_.output, fake::Pattern(5)); // after the check, before the rename
        try {
            out.Commit();
            ADD_FAILURE() << "committed over the file";
        } catch (const PackError& error) {
            EXPECT_NE(std::string(error.what()).find("already exists"), std::string::npos)
                << error.what();
        }
    }
    EXPECT_EQ(ReadBytes(request_.output), fake::Pattern(5));
    EXPECT_EQ(folder_.Names(), std::set<std::string>{"setup.exe"}); // no temporary file left
}

// ---- Folder trees -------------------------------------------------------------------------------

// A folder is stored under its own name with everything below it, sorted by name in each folder;
// a file under its base name; empty folders give nothing.
TEST_F(Packing, KeepsAFolderUnderItsOwnNameAndAFileUnderItsBaseName) {
    const fake::Bytes image = fake::PeImage(1000);
    AddStub(image);
    AddFile("run.bat", fake::Pattern(7));
    AddTree("data", {"b.txt", "lang/de/readme.txt", "A.cab", "lang/Fr.txt", "c/d.txt"});
    fs::create_directories(folder_ / "in" / "data" / "empty" / "deeper");
    Output();
    const packer::CreateSummary summary = CreatePackage(request_);

    const std::vector<std::pair<std::string, std::string>> stored = {
        {"data\\A.cab", "A.cab"},
        {"data\\b.txt", "b.txt"},
        {"data\\c\\d.txt", "c/d.txt"},
        {"data\\lang\\de\\readme.txt", "lang/de/readme.txt"},
        {"data\\lang\\Fr.txt", "lang/Fr.txt"}};
    std::vector<std::string> names = {"run.bat"};
    std::vector<fake::Entry> entries = {{"run.bat", fake::Pattern(7)}};
    for (const auto& [name, source] : stored) {
        names.push_back(name);
        entries.push_back({name, fake::Bytes(source.begin(), source.end())});
    }
    EXPECT_EQ(summary.names, names);
    fake::Bytes image8 = image;
    image8.resize(1000 + summary.padding, 0);
    EXPECT_EQ(ReadBytes(request_.output), Packed(image8, entries));
}

// However the folder is named, its files are stored under its own name; and the same tree gives
// the same bytes, whatever order its files were made in.
TEST_F(Packing, AFolderIsStoredUnderItsOwnNameHoweverItIsSpelt) {
    AddStub(fake::PeImage(1000));
    AddTree("tree/data", {"z.txt", "a.txt"});
    request_.existingOutput = packer::Existing::replace;
    Output();
    CreatePackage(request_);
    const fake::Bytes first = ReadBytes(request_.output);

    const fs::path here = fs::current_path();
    fs::current_path(folder_ / "in" / "tree" / "data");
    for (const char* spelling : {"../data/", "../../tree/./data", "."}) {
        request_.files = {fs::path(spelling)};
        CreatePackage(request_);
        EXPECT_EQ(ReadBytes(request_.output), first) << spelling;
    }
    fs::current_path(here);

    fs::remove_all(folder_ / "in");
    request_.files.clear();
    AddTree("tree/data", {"a.txt", "z.txt"});
    CreatePackage(request_);
    EXPECT_EQ(ReadBytes(request_.output), first);
}

// A link named on the command line is taken for what it points to; one found in a folder could
// lead anywhere, and is refused.
TEST_F(Packing, FollowsALinkItIsGivenButNoneInsideAFolder) {
    AddStub(fake::PeImage(1000));
    const fs::path data = AddTree("data", {"a.txt"});
    fs::create_directory_symlink(data, folder_ / "in" / "alias");
    request_.files = {folder_ / "in" / "alias"};
    Output();
    EXPECT_EQ(CreatePackage(request_).names, std::vector<std::string>{"alias\\a.txt"});

    fs::create_symlink(folder_ / "in" / "data" / "a.txt", data / "b.txt");
    request_.files = {data};
    fs::remove(request_.output);
    EXPECT_EQ(Refusal(), "cannot pack " + packer::QuotedPath(data / "b.txt") +
                             ": links inside a folder are not followed; name what it points to "
                             "on its own");
    EXPECT_FALSE(fs::exists(request_.output));
}

// A stub without the entry-paths feature would refuse the package; the files alone it takes.
TEST_F(Packing, AStubWithoutEntryPathsTakesNoFolder) {
    fake::Bytes image = fake::PeImage(1000);
    fake::Put32(image, kFeatures, 0);
    AddStub(image);
    AddFile("run.bat", fake::Pattern(3));
    AddTree("data", {"a.cab"});
    Output();
    const std::string refusal = Refusal();
    EXPECT_NE(refusal.find("takes no folders in its package (its settings record lacks the "
                           "feature), and would refuse 'data\\a.cab' from"),
              std::string::npos)
        << refusal;
    EXPECT_FALSE(fs::exists(request_.output));

    request_.files.pop_back();
    EXPECT_EQ(CreatePackage(request_).names, std::vector<std::string>{"run.bat"});
}

// A package whose names are all ASCII is written as ever, its options 0; any other name, or an
// output's name beyond ASCII (in the trailer), marks the names as UTF-8, stored as given.
TEST_F(Packing, NamesBeyondAsciiAreMarkedAsUtf8) {
    const fake::Bytes image = fake::PeImage(1000);
    AddStub(image);
    const struct {
        const char* file;
        const char* output;
        std::uint32_t options;
    } cases[] = {
        {"setup.msi", "setup.exe", 0},
        {"Gr\xC3\xBC\xC3\x9F"
         "e.txt",
         "setup.exe", package::kOptionUtf8Names},
        {"\xE8\xA8\xAD\xE5\xAE\x9A.txt", "setup.exe", package::kOptionUtf8Names},
        {"setup.msi", "Set\xC3\xBCp.exe", package::kOptionUtf8Names},
    };
    for (const auto& c : cases) {
        fs::remove_all(folder_ / "in");
        request_.files.clear();
        AddFile(c.file, fake::Pattern(8));
        const fs::path output = Output(fs::u8path(c.output).string());
        CreatePackage(request_);
        fake::Bytes expected = Packed(image, {{c.file, fake::Pattern(8)}}, c.output);
        fake::Put32(expected, kOptions, c.options);
        EXPECT_EQ(ReadBytes(output), expected) << c.file << " " << c.output;
        fs::remove(output);
    }
}

// A stub that reads names in its ANSI code page alone packs ASCII names, and nothing else.
TEST_F(Packing, AStubWithoutUtf8NamesTakesAsciiNamesAlone) {
    fake::Bytes image = fake::PeImage(1000);
    fake::Put32(image, kFeatures, package::kFeatureEntryPaths);
    AddStub(image);
    AddFile("run.bat", fake::Pattern(8));
    const fs::path other = AddFile("Gr\xC3\xBC\xC3\x9F"
                                   "e.txt",
                                   fake::Pattern(8));
    Output();
    EXPECT_EQ(Refusal(), "stub " + packer::QuotedPath(request_.stub) +
                             " reads no UTF-8 names (its settings record lacks the feature), and "
                             "would decode 'Gr\xC3\xBC\xC3\x9F"
                             "e.txt' from " +
                             packer::QuotedPath(other) +
                             " with its machine's ANSI code page; use ASCII names, or the stub "
                             "built with this tool");
    request_.files.pop_back();
    Output("Set\xC3\xBCp.exe");
    EXPECT_NE(Refusal().find("would decode the output's name 'Set\xC3\xBCp.exe'"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(request_.output));

    Output();
    EXPECT_EQ(CreatePackage(request_).names, std::vector<std::string>{"run.bat"});
    EXPECT_EQ(ReadBytes(request_.output), Packed(image, {{"run.bat", fake::Pattern(8)}}));
}

// ---- Refusals -----------------------------------------------------------------------------------

// Whatever was refused, the folder holds what it held before: no output, no temporary file.
class Refusing : public Packing {
protected:
    void SetUp() override {
        AddStub(fake::PeImage(1000));
        AddFile("good.txt", fake::Pattern(10));
        Output();
    }

    void ExpectNothingWritten() {
        EXPECT_EQ(folder_.Names(), (std::set<std::string>{"in", "stub.exe"}));
    }
};

TEST_F(Refusing, AMissingInput) {
    request_.files.push_back(folder_ / "in" / "missing.txt");
    EXPECT_NE(Refusal().find("missing.txt' does not exist"), std::string::npos);
    ExpectNothingWritten();
}

TEST_F(Refusing, AnInputThatIsNeitherFileNorFolder) {
    request_.files.push_back("/dev/null");
    EXPECT_EQ(Refusal(), "'/dev/null' is neither a file nor a folder");
    ExpectNothingWritten();
}

TEST_F(Refusing, AStoredNameOfMoreThan259Bytes) {
    // No file system here takes a name that long: a folder's path makes one.
    AddTree(std::string(201, 'd'), {std::string(58, 'f')});
    EXPECT_NE(Refusal().find("the path is 260 bytes long; at most 259 fit"), std::string::npos);
    // Counted in UTF-8 bytes: 50 and 40 characters of three bytes each.
    request_.files.pop_back();
    std::string folder, file;
    for (int i = 0; i < 50; ++i)
        folder += "\xE6\x97\xA5";
    for (int i = 0; i < 40; ++i)
        file += "\xE6\x9C\xAC";
    AddTree(folder, {file});
    EXPECT_NE(Refusal().find("the path is 271 bytes in UTF-8 (91 characters); at most 259 fit"),
              std::string::npos);
    ExpectNothingWritten();
}

TEST_F(Refusing, AnOutputNameOfMoreThan259Bytes) {
    request_.output = folder_ / std::string(260, 'o');
    const std::string refusal = Refusal();
    EXPECT_NE(refusal.find("the output's file name is 260 bytes long"), std::string::npos)
        << refusal;
    ExpectNothingWritten();
}

TEST_F(Refusing, APathSeparatorInAName) {
    AddFile("dir\\setup.msi", {});
    const std::string refusal = Refusal();
    EXPECT_NE(refusal.find("path separator '\\'"), std::string::npos) << refusal;
    ExpectNothingWritten();
}

TEST_F(Refusing, ANameThatIsNotUtf8) {
    AddFile("r\xE9sum\xE9.txt", {});
    const std::string refusal = Refusal();
    EXPECT_NE(refusal.find("under the name 'r\\xE9sum\\xE9.txt': byte \\xE9 at position 1 is not "
                           "UTF-8"),
              std::string::npos)
        << refusal;
    ExpectNothingWritten();
}

TEST_F(Refusing, NamesThatDifferOnlyInCase) {
    fs::create_directories(folder_ / "in" / "other");
    const fs::path second = folder_ / "in" / "other" / "GOOD.TXT";
    WriteBytes(second, {});
    request_.files.push_back(second);
    EXPECT_EQ(Refusal(), "cannot pack " + packer::QuotedPath(second) +
                             " as 'GOOD.TXT': " + packer::QuotedPath(folder_ / "in" / "good.txt") +
                             " is packed as 'good.txt', the same name when case is ignored, and "
                             "Windows would overwrite one with the other");
    ExpectNothingWritten();
}

TEST_F(Refusing, TwoSourcesOfOneStoredName) {
    AddTree("one/data", {"lang/de.txt"});
    AddTree("two/Data", {"LANG/DE.TXT"});
    const fs::path first = folder_ / "in" / "one" / "data" / "lang" / "de.txt";
    const fs::path second = folder_ / "in" / "two" / "Data" / "LANG" / "DE.TXT";
    EXPECT_EQ(Refusal(), "cannot pack " + packer::QuotedPath(second) +
                             " as 'Data\\LANG\\DE.TXT': " + packer::QuotedPath(first) +
                             " is packed as 'data\\lang\\de.txt', the same name when case is "
                             "ignored, and Windows would overwrite one with the other");
    ExpectNothingWritten();
}

TEST_F(Refusing, AFileNamedAsAFolder) {
    const fs::path data = AddTree("tree/data", {"a.cab"});
    AddFile("DATA", fake::Pattern(1));
    EXPECT_EQ(Refusal(), "cannot pack " + packer::QuotedPath(folder_ / "in" / "DATA") +
                             " as 'DATA': 'DATA' would be a file and a folder, as " +
                             packer::QuotedPath(data / "a.cab") + " is packed as 'data\\a.cab'");
    ExpectNothingWritten();
}

// A name inside a folder is held to what the stub takes, part by part, whatever the file system
// here allows.
TEST_F(Refusing, HostileNamesInAFolder) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"con/a.txt", "its part 'con': 'con' is a reserved device name"},
        {"a\\b.txt", "its part 'a\\x5Cb.txt': the name holds the path separator '\\'"},
        {"caf\xE9.txt", "its part 'caf\\xE9.txt': byte \\xE9 at position 3 is not UTF-8"},
        {"nel\xC2\x85", "its part 'nel\\xC2\\x85': character U+0085 at position 3 is a control"},
    };
    for (const auto& [name, cause] : cases) {
        fs::remove_all(folder_ / "in" / "data");
        request_.files.resize(1);
        AddTree("data", {"ok.txt", name});
        const std::string refusal = Refusal();
        EXPECT_NE(refusal.find(cause), std::string::npos) << refusal;
        EXPECT_EQ(refusal.find('\n'), std::string::npos) << refusal;
        ExpectNothingWritten();
    }
}

TEST_F(Refusing, FoldersThatHoldNoFiles) {
    fs::create_directories(folder_ / "in" / "empty" / "deeper");
    request_.files = {folder_ / "in" / "empty"};
    EXPECT_EQ(Refusal(), "no files to pack");
    ExpectNothingWritten();
}

TEST_F(Refusing, NoFiles) {
    request_.files.clear();
    EXPECT_EQ(Refusal(), "no files to pack");
    ExpectNothingWritten();
}

TEST_F(Refusing, AStubThatIsNotAPeImage) {
    fake::Bytes image = fake::PeImage(1000);
    image[fake::kPeOffset + 1] = 'X';
    WriteBytes(request_.stub, image);
    const std::string refusal = Refusal();
    EXPECT_NE(refusal.find("is not a PE image: no PE signature at offset 128"), std::string::npos)
        << refusal;
    ExpectNothingWritten();
}

TEST_F(Refusing, ASignedStub) {
    fake::Bytes image = fake::PeImage(1000);
    fake::AppendCertificateTable(image, 1024);
    WriteBytes(request_.stub, image);
    const std::string refusal = Refusal();
    EXPECT_NE(refusal.find("is already signed (certificate table of 1024 bytes)"),
              std::string::npos)
        << refusal;
    ExpectNothingWritten();
}

TEST_F(Refusing, AStubTooOldForTheSettingsRecord) {
    WriteBytes(request_.stub, fake::PeImage(500)); // too short for PeImage to put a record in
    EXPECT_EQ(Refusal(), "stub " + packer::QuotedPath(request_.stub) +
                             " is too old: it has no settings record; use the stub built with "
                             "this tool");
    ExpectNothingWritten();
}

// One record, whole, as the stub reads it, or the tool cannot tell what the signed stub would do.
TEST_F(Refusing, AStubWithARecordItCannotTellOrRead) {
    fake::Bytes twice = fake::PeImage(1000);
    std::copy_n(twice.begin() + fake::kSettingsOffset, 128, twice.begin() + 800);
    fake::Bytes cutOff = fake::PeImage(1000);
    cutOff.resize(fake::kSettingsOffset + 100);
    fake::Bytes newer = fake::PeImage(1000);
    fake::Put32(newer, fake::kSettingsOffset + 16, 2);
    fake::Bytes shorter = fake::PeImage(1000);
    fake::Put32(shorter, fake::kSettingsOffset + 20, 75);
    const std::pair<fake::Bytes, std::string> cases[] = {
        {twice, " holds 2 settings record markers, so the record it reads cannot be told"},
        {cutOff, ": its settings record at offset 512 is cut off by the end of the file"},
        {newer, " has a settings record of version 2 and 128 bytes, which this tool does not "
                "read; use the tool built with the stub"},
        {shorter, " has a settings record of version 1 and 75 bytes, which this tool does not "
                  "read; use the tool built with the stub"}};
    for (const auto& [image, refusal] : cases) {
        WriteBytes(request_.stub, image);
        EXPECT_EQ(Refusal(), "stub " + packer::QuotedPath(request_.stub) + refusal);
        ExpectNothingWritten();
    }
}

// A record filled already would vouch for another package, or pass outcomes on for --exit-code
// zero.
TEST_F(Refusing, AStubWhoseRecordIsNotAsBuilt) {
    fake::Bytes image = fake::PeImage(1000);
    fake::Put32(image, kExitCode, 1);
    WriteBytes(request_.stub, image);
    request_.exitCode = package::ExitCodeChoice::zero;
    EXPECT_EQ(Refusal(), "stub " + packer::QuotedPath(request_.stub) +
                             ": its settings record already holds the exit-code choice 1; pack "
                             "the stub as built");
    image = fake::PeImage(1000);
    fake::FillDigest(image, 900, 1000);
    WriteBytes(request_.stub, image);
    EXPECT_EQ(Refusal(), "stub " + packer::QuotedPath(request_.stub) +
                             ": its settings record already vouches for a package of 100 bytes; "
                             "pack the stub as built");
    ExpectNothingWritten();
}

TEST_F(Refusing, AWaitBeyondAWeek) {
    request_.waitChildrenSeconds = package::kMaxWaitChildrenSeconds + 1;
    EXPECT_EQ(Refusal(), "the wait for children is 604801 s; at most 604800 s are taken");
    ExpectNothingWritten();
}

TEST_F(Refusing, AStubThatAlreadyCarriesAPackage) {
    WriteBytes(request_.stub,
               fake::Package(fake::PeImage(1000), {{"x.txt", fake::Pattern(3)}}, "old.exe"));
    const std::string refusal = Refusal();
    EXPECT_NE(refusal.find("already carries a package (its trailer names 'old.exe', first header "
                           "at 1000)"),
              std::string::npos)
        << refusal;
    ExpectNothingWritten();
}

TEST_F(Refusing, TheOutputBeingAnInput) {
    request_.output = folder_ / "in" / ".." / "in" / "good.txt";
    const fake::Bytes before = ReadBytes(folder_ / "in" / "good.txt");
    const std::string refusal = Refusal();
    EXPECT_NE(refusal.find("is the input"), std::string::npos) << refusal;
    EXPECT_EQ(ReadBytes(folder_ / "in" / "good.txt"), before);
    ExpectNothingWritten();
}

TEST_F(Refusing, TheOutputBeingTheStub) {
    request_.output = request_.stub;
    const std::string refusal = Refusal();
    EXPECT_NE(refusal.find("is the stub itself"), std::string::npos) << refusal;
    EXPECT_EQ(ReadBytes(request_.stub), fake::PeImage(1000));
}

TEST_F(Refusing, AnOutputInAMissingFolder) {
    request_.output = folder_ / "nowhere" / "setup.exe";
    EXPECT_NE(Refusal().find("cannot create a file in the folder of"), std::string::npos);
    ExpectNothingWritten();
}

TEST_F(Refusing, KeepsAnExistingOutputWhenRefusing) {
    WriteBytes(request_.output, fake::Bytes(40, 0x5A));
    request_.files.push_back(folder_ / "in" / "missing.txt");
    Refusal();
    EXPECT_EQ(ReadBytes(request_.output), fake::Bytes(40, 0x5A));
}

} // namespace
