#include "packer/EntryNames.h"
#include "packer/Extract.h"
#include "packer/List.h"
#include "packer/PackError.h"

#include "tests/packer/TempFolder.h"
#include "tests/support/FakeStub.h"
#include "package/MemoryByteSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;
using packer::PackError;

const std::vector<fake::Entry> kListedEntries = {
    {"setup.msi", fake::Pattern(1024, 1)}, {"empty.txt", {}}, {"run.bat", fake::Pattern(1025, 2)}};

fake::Bytes SignedPackage(const std::vector<fake::Entry>& entries = kListedEntries) {
    fake::Bytes file = fake::Package(fake::PeImage(1000), entries);
    fake::AppendCertificateTable(file, 1544);
    return file;
}

// ---- Listing ------------------------------------------------------------------------------------

TEST(List, ShowsEveryEntryWithSizeAndPayloadOffset) {
    const fake::Bytes file = SignedPackage();
    MemoryByteSource source(file);
    std::ostringstream out;
    packer::ListPackage(source, out);
    EXPECT_EQ(out.str(),
              "image 1000 bytes, certificate table 1544 bytes, digest empty (the stub extracts it "
              "unverified), exit code: zero, wait for children: 600 s\n"
              "1\tsetup.msi\t1024\t1284\t1024\tstored\n"
              "2\tempty.txt\t0\t2592\t0\tstored\n"
              "3\trun.bat\t1025\t2876\t1025\tstored\n");
}

TEST(List, ShowsEachEntrysStoredPath) {
    const fake::Bytes file = fake::Package(
        fake::PeImage(1000), {{"run.bat", {}}, {"data\\lang\\de.txt", fake::Pattern(3)}});
    MemoryByteSource source(file);
    std::ostringstream out;
    packer::ListPackage(source, out);
    EXPECT_EQ(out.str().substr(out.str().find('\n') + 1),
              "1\trun.bat\t0\t1284\t0\tstored\n"
              "2\tdata\\lang\\de.txt\t3\t1568\t3\tstored\n");
}

TEST(List, NonPrintableNameBytesAreEscaped) {
    const fake::Bytes file = fake::Package(fake::PeImage(1000), {{"a\tb\n", {}}});
    MemoryByteSource source(file);
    std::ostringstream out;
    packer::ListPackage(source, out);
    EXPECT_EQ(out.str(),
              "image 1000 bytes, certificate table 0 bytes, digest empty (the stub extracts it "
              "unverified), exit code: zero, wait for children: 600 s\n"
              "1\ta\\x09b\\x0A\t0\t1284\t0\tstored\n");
}

TEST(List, FileWithoutPackageIsRefused) {
    // An image that ends in zero padding: the trailer's size field reads 0.
    fake::Bytes file = fake::PeImage(4096);
    std::fill(file.end() - 300, file.end(), 0);
    MemoryByteSource source(file);
    std::ostringstream out;
    try {
        packer::ListPackage(source, out);
        ADD_FAILURE() << "listed: " << out.str();
    } catch (const PackError& error) {
        EXPECT_STREQ(error.what(), "no package: the trailer's first header offset is 0");
    }
}

TEST(List, TruncatedPackageListsWhatItCanThenRefuses) {
    fake::Bytes file = fake::Package(fake::PeImage(1000), kListedEntries);
    fake::Put64(file, 2592 + 8, 1 << 20); // "run.bat", whose header is at 2592, claims 1 MiB
    MemoryByteSource source(file);
    std::ostringstream out;
    try {
        packer::ListPackage(source, out);
        ADD_FAILURE() << "listed: " << out.str();
    } catch (const PackError& error) {
        EXPECT_STREQ(error.what(), ("entry 3 ('run.bat', 1048576 bytes) at offset 2592 runs past "
                                    "the end of the file (" +
                                    std::to_string(file.size()) + " bytes)")
                                       .c_str());
    }
    EXPECT_EQ(out.str(),
              "image 1000 bytes, certificate table 0 bytes, digest empty (the stub extracts it "
              "unverified), exit code: zero, wait for children: 600 s\n"
              "1\tsetup.msi\t1024\t1284\t1024\tstored\n"
              "2\tempty.txt\t0\t2592\t0\tstored\n");
}

// ---- Extracting ---------------------------------------------------------------------------------

TEST(Extract, WritesEveryEntryWithItsExactBytes) {
    TempFolder folder;
    const fake::Bytes file = SignedPackage();
    MemoryByteSource source(file);
    std::ostringstream out;
    std::ostringstream err;
    const packer::ExtractSummary summary =
        packer::ExtractPackage(source, folder / "unpack", packer::Existing::refuse, out, err);
    EXPECT_EQ(summary.written, 3);
    EXPECT_EQ(summary.skipped, 0);
    EXPECT_EQ(err.str(), "");
    for (const fake::Entry& entry : kListedEntries)
        EXPECT_EQ(ReadBytes(folder / "unpack" / entry.name), entry.payload) << entry.name;
    EXPECT_EQ(NamesIn(folder / "unpack"),
              (std::set<std::string>{"empty.txt", "run.bat", "setup.msi"}));
}

TEST(Extract, RebuildsTheTreeInsideTheFolder) {
    TempFolder folder;
    const std::vector<fake::Entry> entries = {{"run.bat", fake::Pattern(2)},
                                              {"data\\a.cab", fake::Pattern(300, 1)},
                                              {"data\\lang\\de\\readme.txt", fake::Pattern(7, 2)},
                                              {"data\\lang\\fr.txt", fake::Pattern(5, 3)}};
    const fake::Bytes file = SignedPackage(entries);
    MemoryByteSource source(file);
    std::ostringstream out;
    std::ostringstream err;
    const packer::ExtractSummary summary =
        packer::ExtractPackage(source, folder / "unpack", packer::Existing::refuse, out, err);
    EXPECT_EQ(summary.written, 4);
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(out.str(), "1\trun.bat\t2\n2\tdata\\a.cab\t300\n3\tdata\\lang\\de\\readme.txt\t7\n"
                         "4\tdata\\lang\\fr.txt\t5\n");
    const fs::path unpack = folder / "unpack";
    EXPECT_EQ(ReadBytes(unpack / "data" / "a.cab"), fake::Pattern(300, 1));
    EXPECT_EQ(ReadBytes(unpack / "data" / "lang" / "de" / "readme.txt"), fake::Pattern(7, 2));
    EXPECT_EQ(ReadBytes(unpack / "data" / "lang" / "fr.txt"), fake::Pattern(5, 3));
    EXPECT_EQ(NamesIn(unpack), (std::set<std::string>{"data", "run.bat"}));
}

TEST(Extract, SkipsANameThatWouldLeaveTheFolder) {
    TempFolder folder;
    fs::create_directories(folder / "unpack");
    const fake::Bytes file = SignedPackage({{"..\\evil.exe", fake::Pattern(4)},
                                            {"data/../../evil.exe", fake::Pattern(4)},
                                            {"\\evil.exe", fake::Pattern(4)},
                                            {"C:\\evil.exe", fake::Pattern(4)},
                                            {"good.txt", fake::Pattern(6)}});
    MemoryByteSource source(file);
    std::ostringstream out;
    std::ostringstream err;
    const packer::ExtractSummary summary = packer::ExtractPackage(
        source, folder / "unpack" / "here", packer::Existing::refuse, out, err);
    EXPECT_EQ(summary.written, 1);
    EXPECT_EQ(summary.skipped, 4);
    EXPECT_NE(err.str().find("skipped entry 1 '..\\evil.exe': the path holds '..', which would "
                             "lead out of its folder\n"),
              std::string::npos)
        << err.str();
    EXPECT_NE(err.str().find("skipped entry 3 '\\evil.exe': the path has an empty part"),
              std::string::npos)
        << err.str();
    EXPECT_EQ(NamesIn(folder / "unpack"), std::set<std::string>{"here"});
    EXPECT_EQ(NamesIn(folder / "unpack" / "here"), std::set<std::string>{"good.txt"});
}

// A link planted where an entry's folder goes would send the file anywhere: nothing is written,
// --force or not.
TEST(Extract, NeverWritesThroughALinkInTheFolder) {
    for (const packer::Existing existing : {packer::Existing::refuse, packer::Existing::replace}) {
        TempFolder folder;
        fs::create_directories(folder / "unpack");
        fs::create_directories(folder / "elsewhere");
        fs::create_directory_symlink(folder / "elsewhere", folder / "unpack" / "data");
        const fake::Bytes file =
            SignedPackage({{"run.bat", fake::Pattern(2)}, {"data\\a.cab", fake::Pattern(3)}});
        MemoryByteSource source(file);
        std::ostringstream out;
        std::ostringstream err;
        try {
            packer::ExtractPackage(source, folder / "unpack", existing, out, err);
            ADD_FAILURE() << "extracted: " << out.str();
        } catch (const PackError& error) {
            EXPECT_EQ(error.what(), "'data' in " + packer::QuotedPath(folder / "unpack") +
                                        " is a link; nothing is written through one");
        }
        EXPECT_EQ(NamesIn(folder / "elsewhere"), std::set<std::string>{});
        EXPECT_EQ(NamesIn(folder / "unpack"), std::set<std::string>{"data"});
    }
}

TEST(Extract, RefusesWhatCannotBeWrittenBeforeWritingAnything) {
    const std::vector<std::pair<std::vector<fake::Entry>, std::string>> cases = {
        {{{"a.txt", {}}, {"data", fake::Pattern(1)}, {"DATA\\x.txt", {}}},
         "entries 2 'data' and 3 'DATA\\x.txt' need 'DATA' as a file and as a folder"},
        {{{"a.txt", {}}, {"old\\x.txt", {}}}, "'old\\x.txt' already exists in "},
        {{{"a.txt", {}}, {"file\\x.txt", {}}}, "'file' in "},
    };
    for (const auto& [entries, refusal] : cases) {
        TempFolder folder;
        fs::create_directories(folder / "unpack" / "old");
        WriteBytes(folder / "unpack" / "old" / "x.txt", {});
        WriteBytes(folder / "unpack" / "file", {});
        const fake::Bytes file = SignedPackage(entries);
        MemoryByteSource source(file);
        std::ostringstream out;
        std::ostringstream err;
        try {
            packer::ExtractPackage(source, folder / "unpack", packer::Existing::refuse, out, err);
            ADD_FAILURE() << "extracted: " << out.str();
        } catch (const PackError& error) {
            EXPECT_NE(std::string(error.what()).find(refusal), std::string::npos) << error.what();
        }
        EXPECT_EQ(NamesIn(folder / "unpack"), (std::set<std::string>{"file", "old"}));
    }
}

TEST(Extract, StopsBeforeAPayloadCutOffByTheEndOfTheFile) {
    TempFolder folder;
    const fake::Bytes whole = fake::Package(fake::PeImage(1000), kListedEntries);
    // Cut inside "run.bat" and keep a trailer that still points at the first header.
    fake::Bytes file(whole.begin(), whole.begin() + 1000 + 284 + 1024 + 284 + 284 + 500);
    const fake::Bytes trailer = fake::HeaderBytes(0, 1, 1000, 1000, "stub.exe");
    file.insert(file.end(), trailer.begin(), trailer.end());
    MemoryByteSource source(file);
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_THROW(
        packer::ExtractPackage(source, folder / "unpack", packer::Existing::refuse, out, err),
        PackError);
    // The two entries before it are whole; nothing of the cut one, not even a temporary file.
    EXPECT_EQ(NamesIn(folder / "unpack"), (std::set<std::string>{"empty.txt", "setup.msi"}));
}

TEST(Extract, RefusesTwoEntriesOfOneNameWhenCaseIsIgnored) {
    TempFolder folder;
    const fake::Bytes file =
        SignedPackage({{"a.txt", fake::Pattern(2)}, {"b.txt", {}}, {"A.TXT", fake::Pattern(4)}});
    MemoryByteSource source(file);
    std::ostringstream out;
    std::ostringstream err;
    try {
        packer::ExtractPackage(source, folder / "unpack", packer::Existing::refuse, out, err);
        ADD_FAILURE() << "extracted: " << out.str();
    } catch (const PackError& error) {
        EXPECT_STREQ(error.what(), "entries 1 'a.txt' and 3 'A.TXT' name the same file when case "
                                   "is ignored; give --force to let the later replace the earlier");
    }
    EXPECT_EQ(folder.Names(), std::set<std::string>{}); // not even the folder
}

} // namespace
