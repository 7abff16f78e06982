#include "packer/Check.h"

#include "packer/PackError.h"

#include "package/StubSettings.h"

#include "tests/support/FakeStub.h"
#include "package/MemoryByteSource.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using packer::CheckPackage;
using packer::PackError;

const std::vector<fake::Entry> kEntries = {{"setup.msi", fake::Pattern(100)},
                                           {"run.bat", fake::Pattern(15, 7)}};

// An image of about 1000 bytes, padded as the tool pads it: image plus package is a multiple of 8.
fake::Bytes AlignedPackage(const std::vector<fake::Entry>& entries = kEntries,
                           fake::PeKind kind = fake::PeKind::pe32) {
    std::size_t tail = package::kEndMarkerSize + package::kHeaderSize;
    for (const fake::Entry& entry : entries)
        tail += package::kHeaderSize + entry.payload.size();
    std::size_t image = 1000;
    while ((image + tail) % 8 != 0)
        ++image;
    return fake::Package(fake::PeImage(image, kind), entries);
}

std::uint64_t FirstHeader(const fake::Bytes& file) {
    MemoryByteSource source(file);
    return package::LocatePackage(source).headerOffset;
}

std::uint64_t SecondHeader(const fake::Bytes& file) {
    return FirstHeader(file) + package::kHeaderSize + kEntries[0].payload.size();
}

std::string Problem(const fake::Bytes& file) {
    MemoryByteSource source(file);
    try {
        CheckPackage(source);
    } catch (const PackError& error) {
        const std::string text = error.what();
        EXPECT_EQ(text.find('\n'), std::string::npos) << "not one line: " << text;
        return text;
    }
    ADD_FAILURE() << "no problem found";
    return {};
}

#define EXPECT_PROBLEM(file, part)                                                                 \
    do {                                                                                           \
        const std::string problem = Problem(file);                                                 \
        EXPECT_NE(problem.find(part), std::string::npos) << "got: " << problem;                    \
    } while (false)

// ---- Sound files --------------------------------------------------------------------------------

TEST(CheckSound, UnsignedPackage) {
    const fake::Bytes file = AlignedPackage();
    MemoryByteSource source(file);
    const packer::CheckSummary summary = CheckPackage(source);
    EXPECT_EQ(summary.entries, 2);
    EXPECT_EQ(summary.payloadBytes, 115u);
    EXPECT_EQ(summary.imageSize, FirstHeader(file));
    EXPECT_EQ(summary.certificateSize, 0);
    EXPECT_FALSE(summary.pe32Plus);
}

TEST(CheckSound, SignedPackage) {
    fake::Bytes file = AlignedPackage();
    fake::AppendCertificateTable(file, 1544);
    MemoryByteSource source(file);
    const packer::CheckSummary summary = CheckPackage(source);
    EXPECT_EQ(summary.entries, 2);
    EXPECT_EQ(summary.certificateSize, 1544);
}

TEST(CheckSound, SignedPe32PlusPackage) {
    fake::Bytes file = AlignedPackage(kEntries, fake::PeKind::pe32Plus);
    fake::AppendCertificateTable(file, 2048);
    MemoryByteSource source(file);
    const packer::CheckSummary summary = CheckPackage(source);
    EXPECT_TRUE(summary.pe32Plus);
    EXPECT_EQ(summary.certificateSize, 2048);
    EXPECT_EQ(summary.entries, 2);
}

TEST(CheckSound, ZeroSizeEntries) {
    const fake::Bytes file = AlignedPackage({{"a", {}}, {"b", {}}, {"c", fake::Pattern(1)}});
    MemoryByteSource source(file);
    EXPECT_EQ(CheckPackage(source).entries, 3);
}

// ---- Alignment and the certificate table --------------------------------------------------------

TEST(CheckLayout, ImagePlusPackageNotAMultipleOf8) {
    fake::Bytes file = AlignedPackage();
    file = fake::Package(fake::PeImage(FirstHeader(file) + 3), kEntries);
    EXPECT_PROBLEM(file, "not a multiple of 8: signing would pad it");
}

TEST(CheckLayout, PaddingBetweenTrailerAndCertificateTable) {
    const fake::Bytes aligned = AlignedPackage();
    fake::Bytes file = fake::Package(fake::PeImage(FirstHeader(aligned) + 3), kEntries);
    file.resize(file.size() + 5, 0); // what signing adds before the table
    fake::AppendCertificateTable(file, 1024);
    EXPECT_PROBLEM(file, "5 bytes lie between the trailer and the certificate table");
}

TEST(CheckLayout, CertificateTableNotAtTheEnd) {
    fake::Bytes file = AlignedPackage();
    fake::AppendCertificateTable(file, 1024);
    file.resize(file.size() + 8, 0);
    EXPECT_PROBLEM(file, "does not end at the end of the file");
}

TEST(CheckLayout, CertificateTableLargerThanTheFile) {
    fake::Bytes file = AlignedPackage();
    fake::SetSecurityDirectory(file, 0, static_cast<std::int32_t>(file.size() + 1));
    EXPECT_PROBLEM(file, "is larger than the file");
}

TEST(CheckLayout, NegativeCertificateTableSize) {
    fake::Bytes file = AlignedPackage();
    fake::SetSecurityDirectory(file, 0, -8);
    EXPECT_PROBLEM(file, "the certificate table size is negative (-8)");
}

TEST(CheckLayout, CertificateRecordOfTheWrongType) {
    fake::Bytes file = AlignedPackage();
    const std::size_t table = file.size();
    fake::AppendCertificateTable(file, 1024);
    file[table + 6] = 1; // WIN_CERT_TYPE_X509
    EXPECT_PROBLEM(file, "has revision 512 and type 1");
}

TEST(CheckLayout, CertificateRecordLongerThanTheTable) {
    fake::Bytes file = AlignedPackage();
    const std::size_t table = file.size();
    fake::AppendCertificateTable(file, 1024);
    fake::Put32(file, table, 1032);
    EXPECT_PROBLEM(file, "claims 1032 bytes, but 1024 are left");
}

// What the stub would do cannot be told without one record it reads.
TEST(CheckLayout, NoSettingsRecordOrOneItCannotTellOrRead) {
    fake::Bytes file = AlignedPackage();
    file[fake::kSettingsOffset] = 0; // the marker's first byte
    EXPECT_PROBLEM(file, "the stub is too old: it has no settings record");
    file = AlignedPackage();
    std::copy(package::kSettingsMarker.begin(), package::kSettingsMarker.end(), file.begin() + 800);
    EXPECT_PROBLEM(file, "the stub holds 2 settings record markers");
    file = AlignedPackage();
    fake::Put32(file, fake::kSettingsOffset + 16, 0);
    EXPECT_PROBLEM(file, "the stub has a settings record of version 0 and 128 bytes, which this "
                         "tool does not read");
}

TEST(CheckLayout, NotAPeImage) {
    fake::Bytes file = AlignedPackage();
    file[0] = 'Z';
    EXPECT_PROBLEM(file, "not a PE image: no MZ signature");
}

// ---- The trailer and the end marker -------------------------------------------------------------

TEST(CheckTrailer, MissingTrailer) {
    fake::Bytes file = AlignedPackage();
    fake::Put32(file, file.size() - package::kHeaderSize + 4, 2); // ordinal 2, not 1
    EXPECT_PROBLEM(file, "no trailer right before the end of the file");
}

TEST(CheckTrailer, FirstHeaderOffsetInsideThePeHeaders) {
    fake::Bytes file = AlignedPackage();
    const std::size_t trailer = file.size() - package::kHeaderSize;
    fake::Put64(file, trailer + 8, 16);
    fake::Put64(file, trailer + 16, 16);
    EXPECT_PROBLEM(file, "the trailer's first header offset 16 lies outside");
}

TEST(CheckTrailer, EndMarkerByteChanged) {
    fake::Bytes file = AlignedPackage();
    const std::size_t marker = file.size() - package::kHeaderSize - package::kEndMarkerSize;
    file[marker + 3] = 0xFE;
    EXPECT_PROBLEM(file, "the end marker at offset " + std::to_string(marker) +
                             " has byte 254 at position 3");
}

// ---- Headers ------------------------------------------------------------------------------------

TEST(CheckHeaders, CountThatDiffersBetweenHeaders) {
    fake::Bytes file = AlignedPackage();
    fake::Put32(file, SecondHeader(file), 3);
    EXPECT_PROBLEM(file, "entry 2 ('run.bat'): count 3 differs from the first header's 2");
}

TEST(CheckHeaders, CountLargerThanTheEntries) {
    fake::Bytes file = AlignedPackage();
    fake::Put32(file, FirstHeader(file), 3);
    fake::Put32(file, SecondHeader(file), 3);
    EXPECT_PROBLEM(file, "the headers announce 3 entries, but only 2 lie before the end marker");
}

TEST(CheckHeaders, CountSmallerThanTheEntries) {
    fake::Bytes file = AlignedPackage();
    fake::Put32(file, FirstHeader(file), 1);
    fake::Put32(file, SecondHeader(file), 1);
    EXPECT_PROBLEM(file, "bytes lie between the last of the 1 entries and the end marker");
}

TEST(CheckHeaders, FirstCountZero) {
    fake::Bytes file = AlignedPackage();
    fake::Put32(file, FirstHeader(file), 0);
    EXPECT_PROBLEM(file, "the first header's count is 0, so the stub would extract nothing");
}

TEST(CheckHeaders, WrongOrdinal) {
    fake::Bytes file = AlignedPackage();
    fake::Put32(file, SecondHeader(file) + 4, 7);
    EXPECT_PROBLEM(file, "entry 2 ('run.bat'): ordinal 7, expected 3");
}

TEST(CheckHeaders, WrongRunningTotal) {
    fake::Bytes file = AlignedPackage();
    fake::Put64(file, SecondHeader(file) + 16, 15);
    EXPECT_PROBLEM(file, "entry 2 ('run.bat'): running total 15, expected 115");
}

TEST(CheckHeaders, SizeRunningIntoTheEndMarker) {
    fake::Bytes file = AlignedPackage();
    fake::Put64(file, SecondHeader(file) + 8, 16);
    fake::Put64(file, SecondHeader(file) + 16, 116);
    EXPECT_PROBLEM(file, "entry 2 ('run.bat'): its 16 bytes at offset");
}

TEST(CheckHeaders, HostileNameInside) {
    const fake::Bytes file = AlignedPackage({{"..\\evil.exe", fake::Pattern(4)}});
    EXPECT_PROBLEM(file, "entry 1 ('..\\evil.exe'): the path holds '..'");
}

// ---- Names the stub extracts one after the other ------------------------------------------------

const std::vector<fake::Entry> kTree = {{"run.bat", fake::Pattern(3)},
                                        {"data\\a.cab", fake::Pattern(5)},
                                        {"data\\lang\\de.txt", fake::Pattern(7)}};

TEST(CheckNames, FoldersForAStubThatTakesThem) {
    const fake::Bytes file = AlignedPackage(kTree);
    MemoryByteSource source(file);
    const packer::CheckSummary summary = CheckPackage(source);
    EXPECT_EQ(summary.entries, 3);
    EXPECT_EQ(summary.settings.waitChildrenSeconds, 600u);
}

TEST(CheckNames, FoldersForAStubThatDoesNotTakeThem) {
    fake::Bytes file = AlignedPackage(kTree);
    fake::Put32(file, fake::kSettingsOffset + 72, 0);
    EXPECT_PROBLEM(file, "entry 2 ('data\\a.cab') lies in a folder, but the stub takes no folders "
                         "(its settings record lacks the feature), and would refuse the package");
    // Plain names it takes.
    file = AlignedPackage();
    fake::Put32(file, fake::kSettingsOffset + 72, 0);
    MemoryByteSource source(file);
    EXPECT_EQ(CheckPackage(source).entries, 2);
}

TEST(CheckNames, TwoEntriesWhereOneFileGoes) {
    EXPECT_PROBLEM(AlignedPackage({{"data\\a.cab", {}}, {"b", {}}, {"DATA\\A.CAB", {}}}),
                   "entry 3 ('DATA\\A.CAB'): entry 1 ('data\\a.cab') names the same file when "
                   "case is ignored");
    EXPECT_PROBLEM(AlignedPackage({{"data", {}}, {"data\\a.cab", {}}}),
                   "entry 2 ('data\\a.cab'): 'data' would be a file and a folder, as entry 1 is "
                   "'data'");
}

// Names beyond ASCII are read as UTF-8 only where the settings record says so, and only a stub that
// reads such names is given them.
TEST(CheckNames, NamesBeyondAsciiAreUtf8WhereTheRecordSaysSo) {
    const std::vector<fake::Entry> entries = {{"Gr\xC3\xBC\xC3\x9F"
                                               "e.txt",
                                               {}},
                                              {"run.bat", {}}};
    fake::Bytes file = AlignedPackage(entries);
    EXPECT_PROBLEM(file, "entry 1 ('Gr\\xC3\\xBC\\xC3\\x9F"
                         "e.txt'): byte \\xC3 at position 2 "
                         "is not printable ASCII");
    fake::Put32(file, fake::kSettingsOffset + 76, package::kOptionUtf8Names);
    MemoryByteSource source(file);
    EXPECT_EQ(CheckPackage(source).entries, 2);
    fake::Put32(file, fake::kSettingsOffset + 72, package::kFeatureEntryPaths);
    EXPECT_PROBLEM(file, "the package's names are marked as UTF-8, but the stub reads no UTF-8 "
                         "names");
    file = AlignedPackage({{"caf\xE9", {}}});
    fake::Put32(file, fake::kSettingsOffset + 76, package::kOptionUtf8Names);
    EXPECT_PROBLEM(file, "entry 1 ('caf\\xE9'): byte \\xE9 at position 3 is not UTF-8");
}

} // namespace
