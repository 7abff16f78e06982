#include "package/FolderName.h"
#include "package/PackageFormat.h"

#include "tests/support/FakeStub.h"
#include "package/MemoryByteSource.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

using package::DecodeHeader;
using package::EncodeHeader;
using package::HeaderName;
using package::LocatePackage;
using package::PackageEntryHeader;
using package::PayloadFits;
using package::SetHeaderName;

PackageEntryHeader SampleHeader() {
    PackageEntryHeader header;
    header.count = 0x04030201;
    header.ordinal = 0x08070605;
    header.size = 0x100F0E0D0C0B0A09ull;
    header.runningTotal = 0x1817161514131211ull;
    EXPECT_TRUE(SetHeaderName(header, "run.bat"));
    return header;
}

// ---- Header bytes -------------------------------------------------------------------------------

TEST(HeaderBytes, EveryFieldSitsLittleEndianAtItsOffset) {
    const package::HeaderBytes bytes = EncodeHeader(SampleHeader());
    const std::uint8_t expected[24] = {
        0x01, 0x02, 0x03, 0x04,                         // count
        0x05, 0x06, 0x07, 0x08,                         // ordinal
        0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x10, // size
        0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18, // running total
    };
    for (std::size_t i = 0; i < sizeof expected; ++i)
        EXPECT_EQ(bytes[i], expected[i]) << "byte " << i;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[24]), 8),
              std::string("run.bat\0", 8));
    for (std::size_t i = 24 + 7; i < package::kHeaderSize; ++i)
        ASSERT_EQ(bytes[i], 0) << "name field not zero-filled at byte " << i;
}

TEST(HeaderBytes, HandWrittenBytesDecodeToTheirFields) {
    const fake::Bytes bytes = fake::HeaderBytes(5, 3, 67865088, 67865103, "setup.ini");
    const PackageEntryHeader header = DecodeHeader(bytes.data());
    EXPECT_EQ(header.count, 5);
    EXPECT_EQ(header.ordinal, 3u);
    EXPECT_EQ(header.size, 67865088u);
    EXPECT_EQ(header.runningTotal, 67865103u);
    EXPECT_EQ(HeaderName(header), "setup.ini");
}

TEST(HeaderBytes, RoundTripKeepsEveryFieldAndEveryNameByte) {
    PackageEntryHeader header = SampleHeader();
    for (std::size_t i = 0; i < package::kNameFieldSize; ++i)
        header.name[i] = static_cast<char>(i * 7 + 1);
    const PackageEntryHeader back = DecodeHeader(EncodeHeader(header).data());
    EXPECT_EQ(back.count, header.count);
    EXPECT_EQ(back.ordinal, header.ordinal);
    EXPECT_EQ(back.size, header.size);
    EXPECT_EQ(back.runningTotal, header.runningTotal);
    EXPECT_EQ(back.name, header.name);
}

TEST(HeaderBytes, NegativeCountKeepsItsSign) {
    const fake::Bytes bytes = fake::HeaderBytes(-2, 2, 0, 0, "a");
    EXPECT_EQ(bytes[0], 0xFE);
    EXPECT_EQ(bytes[3], 0xFF);
    EXPECT_EQ(DecodeHeader(bytes.data()).count, -2);
    PackageEntryHeader header;
    header.count = INT_MIN;
    EXPECT_EQ(DecodeHeader(EncodeHeader(header).data()).count, INT_MIN);
}

// ---- Names --------------------------------------------------------------------------------------

TEST(HeaderNames, A259ByteNameFitsWithItsTerminator) {
    PackageEntryHeader header;
    const std::string name(259, 'n');
    ASSERT_TRUE(SetHeaderName(header, name));
    EXPECT_EQ(header.name[259], '\0');
    EXPECT_EQ(HeaderName(DecodeHeader(EncodeHeader(header).data())), name);
}

TEST(HeaderNames, A260ByteNameIsRefusedAndLeavesTheHeaderAlone) {
    PackageEntryHeader header;
    ASSERT_TRUE(SetHeaderName(header, "keep.me"));
    EXPECT_FALSE(SetHeaderName(header, std::string(260, 'n')));
    EXPECT_EQ(HeaderName(header), "keep.me");
}

TEST(HeaderNames, AFullFieldWithoutTerminatorIsBoundedByTheField) {
    // The header is followed in memory by more name-like bytes that must not be taken.
    fake::Bytes bytes(package::kHeaderSize + 16, 'y');
    for (std::size_t i = 24; i < package::kHeaderSize; ++i)
        bytes[i] = 'x';
    const std::string name = HeaderName(DecodeHeader(bytes.data()));
    EXPECT_EQ(name.size(), 260u);
    EXPECT_EQ(name, std::string(260, 'x'));
}

TEST(HeaderNames, StopAtTheFirstZeroByte) {
    fake::Bytes bytes = fake::HeaderBytes(1, 2, 0, 0, "abc");
    bytes[24 + 4] = 'd'; // after the terminator: left over, not part of the name
    EXPECT_EQ(HeaderName(DecodeHeader(bytes.data())), "abc");
}

TEST(HeaderNames, AShorterNameClearsTheRestOfALongerOne) {
    PackageEntryHeader header;
    ASSERT_TRUE(SetHeaderName(header, std::string(200, 'L')));
    ASSERT_TRUE(SetHeaderName(header, "s"));
    EXPECT_EQ(HeaderName(header), "s");
    const package::HeaderBytes bytes = EncodeHeader(header);
    for (std::size_t i = 25; i < package::kHeaderSize; ++i)
        ASSERT_EQ(bytes[i], 0) << "byte " << i;
}

// ---- Locating the package -----------------------------------------------------------------------

const std::vector<fake::Entry> kTwoEntries = {{"setup.msi", fake::Pattern(100)},
                                              {"run.bat", fake::Pattern(15, 7)}};

TEST(Location, UnsignedFileHasTheTrailerAsItsLastBytes) {
    const fake::Bytes image = fake::PeImage(1000);
    const fake::Bytes file = fake::Package(image, kTwoEntries, "inst.exe");
    MemoryByteSource source(file);
    const package::PackageLocation location = LocatePackage(source);
    EXPECT_TRUE(location.peHeadersRead);
    EXPECT_EQ(location.certificateSize, 0);
    ASSERT_TRUE(location.trailerRead);
    EXPECT_EQ(location.headerOffset, 1000u);
    EXPECT_EQ(location.trailer.count, 0);
    EXPECT_EQ(location.trailer.ordinal, 1u);
    EXPECT_EQ(location.trailer.runningTotal, 1000u);
    EXPECT_EQ(HeaderName(location.trailer), "inst.exe");
}

TEST(Location, SignedFileHasTheTrailerRightBeforeTheCertificateTable) {
    fake::Bytes file = fake::Package(fake::PeImage(1000), kTwoEntries);
    fake::AppendCertificateTable(file, 1544);
    MemoryByteSource source(file);
    const package::PackageLocation location = LocatePackage(source);
    EXPECT_EQ(location.certificateSize, 1544);
    ASSERT_TRUE(location.trailerRead);
    EXPECT_EQ(location.headerOffset, 1000u);
    EXPECT_EQ(location.trailer.ordinal, 1u);
}

TEST(Location, NegativeCertificateSizeCountsAsUnsigned) {
    fake::Bytes file = fake::Package(fake::PeImage(1000), kTwoEntries);
    fake::SetSecurityDirectory(file, 0, -300);
    MemoryByteSource source(file);
    const package::PackageLocation location = LocatePackage(source);
    EXPECT_EQ(location.certificateSize, -300);
    EXPECT_EQ(location.headerOffset, 1000u);
}

TEST(Location, TrailerDistanceAddsOnlyAPositiveCertificateSize) {
    EXPECT_EQ(package::TrailerDistanceFromEnd(0), 284u);
    EXPECT_EQ(package::TrailerDistanceFromEnd(1544), 1828u);
    EXPECT_EQ(package::TrailerDistanceFromEnd(-1), 284u);
    EXPECT_EQ(package::TrailerDistanceFromEnd(INT_MIN), 284u);
    EXPECT_EQ(package::TrailerDistanceFromEnd(INT_MAX), 284u + INT_MAX);
}

TEST(Location, NegativePeOffsetCountsAsBeyondTheEnd) {
    fake::Bytes file = fake::Package(fake::PeImage(1000), kTwoEntries);
    fake::SetPeOffset(file, -4);
    MemoryByteSource source(file);
    const package::PackageLocation location = LocatePackage(source);
    EXPECT_FALSE(location.peHeadersRead);
    EXPECT_FALSE(location.trailerRead);
    EXPECT_EQ(location.headerOffset, 0u);
}

TEST(Location, PeOffsetBeyondTheEndFindsNothing) {
    fake::Bytes file = fake::Package(fake::PeImage(1000), kTwoEntries);
    fake::SetPeOffset(file, static_cast<std::int32_t>(file.size() + 1));
    MemoryByteSource source(file);
    const package::PackageLocation location = LocatePackage(source);
    EXPECT_FALSE(location.peHeadersRead);
    EXPECT_EQ(location.headerOffset, 0u);
}

TEST(Location, PeOffsetAtTheEndReadsZerosAndTakesTheFileAsUnsigned) {
    fake::Bytes file = fake::Package(fake::PeImage(1000), kTwoEntries);
    fake::AppendCertificateTable(file, 64); // ignored: the PE headers are not where it says
    fake::SetPeOffset(file, static_cast<std::int32_t>(file.size()));
    MemoryByteSource source(file);
    const package::PackageLocation location = LocatePackage(source);
    EXPECT_TRUE(location.peHeadersRead);
    EXPECT_EQ(location.certificateSize, 0);
    EXPECT_TRUE(location.trailerRead);
    // The window is 64 bytes into the real trailer: its size field lies in the zero-filled name.
    EXPECT_EQ(location.headerOffset, 0u);
}

TEST(Location, CertificateSizeLargerThanTheFileFindsNothing) {
    fake::Bytes file = fake::Package(fake::PeImage(1000), kTwoEntries);
    fake::SetSecurityDirectory(file, 0, static_cast<std::int32_t>(file.size()));
    MemoryByteSource source(file);
    const package::PackageLocation location = LocatePackage(source);
    EXPECT_TRUE(location.peHeadersRead);
    EXPECT_FALSE(location.trailerRead);
    EXPECT_EQ(location.headerOffset, 0u);
}

TEST(Location, FileWithoutPackageTakesWhateverBytesLieInTheSizeField) {
    fake::Bytes file = fake::PeImage(4096);
    const std::size_t sizeField = file.size() - 284 + 8;
    const std::string text = "PADDINGX";
    std::copy(text.begin(), text.end(), file.begin() + sizeField);
    MemoryByteSource source(file);
    const package::PackageLocation location = LocatePackage(source);
    ASSERT_TRUE(location.trailerRead);
    EXPECT_EQ(location.headerOffset, 0x58474E4944444150ull); // "PADDINGX" read little-endian
    EXPECT_FALSE(PayloadFits(location.headerOffset, package::kHeaderSize, file.size()));
}

TEST(Location, FileShorterThanATrailerFindsNothing) {
    fake::Bytes file(283, 0);
    MemoryByteSource source(file);
    const package::PackageLocation location = LocatePackage(source);
    EXPECT_TRUE(location.peHeadersRead); // offset 0 lies within the file
    EXPECT_FALSE(location.trailerRead);
    EXPECT_EQ(location.headerOffset, 0u);
}

TEST(Location, EmptyFileFindsNothing) {
    MemoryByteSource source(nullptr, 0);
    const package::PackageLocation location = LocatePackage(source);
    EXPECT_FALSE(location.trailerRead);
    EXPECT_EQ(location.headerOffset, 0u);
}

// ---- Locating the package of a 64-bit (PE32+) image --------------------------------------------

// PE32+ keeps its resource directory where PE32 keeps the security directory, and PE32 keeps its
// debug directory where PE32+ keeps it: fill the other kind's position so that reading it shows.
constexpr std::size_t kPe32SecurityField = fake::kPeOffset + 152;
constexpr std::size_t kPe32PlusSecurityField = fake::kPeOffset + 168;

void FillWithDecoy(fake::Bytes& file, std::size_t field) {
    fake::Put32(file, field, 0x00001000);     // an address
    fake::Put32(file, field + 4, 0x00000400); // a plausible size of 1024
}

TEST(Pe32PlusLocation, UnsignedImageFindsTheTrailerAtTheEnd) {
    const fake::Bytes image = fake::PeImage(1000, fake::PeKind::pe32Plus);
    fake::Bytes file = fake::Package(image, kTwoEntries, "inst64.exe");
    FillWithDecoy(file, kPe32SecurityField);
    MemoryByteSource source(file);
    const package::PackageLocation location = LocatePackage(source);
    EXPECT_TRUE(location.pe32Plus);
    EXPECT_EQ(location.certificateSize, 0);
    ASSERT_TRUE(location.trailerRead);
    EXPECT_EQ(location.headerOffset, 1000u);
    EXPECT_EQ(location.trailer.ordinal, 1u);
    EXPECT_EQ(HeaderName(location.trailer), "inst64.exe");
}

TEST(Pe32PlusLocation, SignedImageFindsTheTrailerBeforeTheCertificateTable) {
    fake::Bytes file =
        fake::Package(fake::PeImage(1000, fake::PeKind::pe32Plus), kTwoEntries, "inst64.exe");
    FillWithDecoy(file, kPe32SecurityField);
    fake::AppendCertificateTable(file, 2360);
    MemoryByteSource source(file);
    const package::PackageLocation location = LocatePackage(source);
    EXPECT_TRUE(location.pe32Plus);
    EXPECT_EQ(location.certificateSize, 2360);
    ASSERT_TRUE(location.trailerRead);
    EXPECT_EQ(location.headerOffset, 1000u);
    EXPECT_EQ(HeaderName(location.trailer), "inst64.exe");
}

TEST(Pe32PlusLocation, Pe32ImageIgnoresThePe32PlusPosition) {
    fake::Bytes file = fake::Package(fake::PeImage(1000), kTwoEntries);
    FillWithDecoy(file, kPe32PlusSecurityField);
    fake::AppendCertificateTable(file, 800);
    MemoryByteSource source(file);
    const package::PackageLocation location = LocatePackage(source);
    EXPECT_FALSE(location.pe32Plus);
    EXPECT_EQ(location.certificateSize, 800);
    EXPECT_EQ(location.headerOffset, 1000u);
}

TEST(Pe32PlusLocation, UnknownMagicIsReadAsPe32) {
    fake::Bytes file = fake::Package(fake::PeImage(1000), kTwoEntries);
    fake::AppendCertificateTable(file, 800);
    file[fake::kPeOffset + 24] = 0x07; // 0x107, a ROM image
    file[fake::kPeOffset + 25] = 0x01;
    MemoryByteSource source(file);
    const package::PackageLocation location = LocatePackage(source);
    EXPECT_FALSE(location.pe32Plus);
    EXPECT_EQ(location.certificateSize, 800);
    EXPECT_EQ(location.headerOffset, 1000u);
}

// ---- Payload bounds -----------------------------------------------------------------------------

TEST(PayloadBounds, PayloadEndingExactlyAtTheEndFits) {
    EXPECT_TRUE(PayloadFits(100, 50, 150));
    EXPECT_FALSE(PayloadFits(100, 51, 150));
    EXPECT_TRUE(PayloadFits(150, 0, 150));
    EXPECT_FALSE(PayloadFits(151, 0, 150));
}

TEST(PayloadBounds, HugeSizesDoNotWrapAround) {
    EXPECT_FALSE(PayloadFits(100, UINT64_MAX, 150));
    EXPECT_FALSE(PayloadFits(100, UINT64_MAX - 99, 150)); // offset + size wraps to 0
    EXPECT_FALSE(PayloadFits(UINT64_MAX, 2, 150));
    EXPECT_TRUE(PayloadFits(0, UINT64_MAX, UINT64_MAX));
}

// ---- The extraction folder's names --------------------------------------------------------------

TEST(FolderNames, AFreshNameIsSixteenHexDigitsAfterTheBase) {
    EXPECT_EQ(package::FreshFolderName(0x0123456789abcdefULL), L"unpack.0123456789abcdef");
    EXPECT_EQ(package::FreshFolderName(0), L"unpack.0000000000000000");
    for (const wchar_t* name : {L"unpack", L"UNPACK", L"unpack.0123456789ABCDEF"})
        EXPECT_TRUE(package::IsRunFolderName(name)) << name;
    for (const wchar_t* name : {L"unpack.", L"unpack.log", L"unpack.0123456789abcde",
                                L"unpack.0123456789abcdefa", L"unpack.0123456789abcdeg",
                                L"unpackx", L"xunpack"})
        EXPECT_FALSE(package::IsRunFolderName(name)) << name;
}

} // namespace
