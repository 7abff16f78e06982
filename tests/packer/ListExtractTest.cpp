#include "packer/Extract.h"
#include "packer/List.h"
#include "packer/PackError.h"

#include "tests/packer/TempFolder.h"
#include "tests/support/FakeStub.h"
#include "tests/support/MemoryByteSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>

namespace {

using packer::PackError;

const std::vector<fake::Entry> kEntries = {
    {"setup.msi", fake::Pattern(1024, 1)}, {"empty.txt", {}}, {"run.bat", fake::Pattern(1025, 2)}};

fake::Bytes SignedPackage(const std::vector<fake::Entry>& entries = kEntries) {
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
    EXPECT_EQ(
        out.str(),
        "image 1000 bytes, certificate table 1544 bytes, digest slot empty (the stub extracts it "
        "unverified), exit code: zero\n"
        "1\tsetup.msi\t1024\t1284\n"
        "2\tempty.txt\t0\t2592\n"
        "3\trun.bat\t1025\t2876\n");
}

TEST(List, NonPrintableNameBytesAreEscaped) {
    const fake::Bytes file = fake::Package(fake::PeImage(1000), {{"a\tb\n", {}}});
    MemoryByteSource source(file);
    std::ostringstream out;
    packer::ListPackage(source, out);
    EXPECT_EQ(
        out.str(),
        "image 1000 bytes, certificate table 0 bytes, digest slot empty (the stub extracts it "
        "unverified), exit code: zero\n"
        "1\ta\\x09b\\x0A\t0\t1284\n");
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
    fake::Bytes file = fake::Package(fake::PeImage(1000), kEntries);
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
    EXPECT_EQ(
        out.str(),
        "image 1000 bytes, certificate table 0 bytes, digest slot empty (the stub extracts it "
        "unverified), exit code: zero\n"
        "1\tsetup.msi\t1024\t1284\n"
        "2\tempty.txt\t0\t2592\n");
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
    for (const fake::Entry& entry : kEntries)
        EXPECT_EQ(ReadBytes(folder / "unpack" / entry.name), entry.payload) << entry.name;
    EXPECT_EQ(NamesIn(folder / "unpack"),
              (std::set<std::string>{"empty.txt", "run.bat", "setup.msi"}));
}

TEST(Extract, SkipsANameThatWouldLeaveTheFolder) {
    TempFolder folder;
    const fake::Bytes file =
        SignedPackage({{"..\\evil.exe", fake::Pattern(4)}, {"good.txt", fake::Pattern(6)}});
    MemoryByteSource source(file);
    std::ostringstream out;
    std::ostringstream err;
    const packer::ExtractSummary summary =
        packer::ExtractPackage(source, folder / "unpack", packer::Existing::refuse, out, err);
    EXPECT_EQ(summary.written, 1);
    EXPECT_EQ(summary.skipped, 1);
    EXPECT_NE(
        err.str().find("skipped entry 1 '..\\x5Cevil.exe': the name holds the path separator"),
        std::string::npos)
        << err.str();
    EXPECT_EQ(folder.Names(), std::set<std::string>{"unpack"});
    EXPECT_EQ(ReadBytes(folder / "unpack" / "good.txt"), fake::Pattern(6));
}

TEST(Extract, StopsBeforeAPayloadCutOffByTheEndOfTheFile) {
    TempFolder folder;
    const fake::Bytes whole = fake::Package(fake::PeImage(1000), kEntries);
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
