#include "packer/Create.h"

#include "packer/FileIo.h"
#include "packer/PackError.h"

#include "package/DigestSlot.h"
#include "package/ExitCodeSlot.h"
#include "package/Sha256.h"

#include "tests/packer/TempFolder.h"
#include "tests/support/FakeStub.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using packer::CreatePackage;
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

    const packer::CreateSummary summary = CreatePackage(request_);

    // 1000 + 3 * 284 + 1040 payload + 8 + 284 = 3184, a multiple of 8: no padding needed. The
    // image differs from the stub in its digest slot alone.
    fake::Bytes expected = fake::Package(image, entries, "inst.exe");
    fake::FillDigestSlot(expected, 1000, expected.size());
    EXPECT_EQ(ReadBytes(folder_ / "inst.exe"), expected);
    EXPECT_EQ(summary.padding, 0u);
    EXPECT_EQ(summary.imageSize, 1000u);
    EXPECT_EQ(summary.entries, 3u);
    EXPECT_EQ(summary.payloadBytes, 1040u);
    EXPECT_EQ(summary.fileSize, expected.size());
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
        fake::Bytes expected = fake::Package(padded, {{"a.txt", fake::Pattern(5)}}, "setup.exe");
        fake::FillDigestSlot(expected, padded.size(), expected.size());
        EXPECT_EQ(written, expected) << "image of " << imageSize << " bytes";
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
    fake::Bytes expected = fake::Package(image, {{"run.bat", fake::Pattern(16)}}, "setup.exe");
    fake::FillDigestSlot(expected, 1024, expected.size());
    EXPECT_EQ(written, expected);
}

// The slot vouches for the package, from the first header to the end of the trailer: the same
// inputs give the same bytes, and another package gives another digest.
TEST_F(Packing, FillsTheDigestSlotReproducibly) {
    AddStub(fake::PeImage(1000));
    AddFile("setup.msi", fake::Pattern(300000, 1));
    Output();
    const packer::CreateSummary first = CreatePackage(request_);
    const fake::Bytes written = ReadBytes(request_.output);
    fs::rename(request_.output, folder_ / "first.exe");
    const packer::CreateSummary second = CreatePackage(request_);
    EXPECT_EQ(ReadBytes(request_.output), written);
    EXPECT_EQ(second.digest, first.digest);

    const auto slot = written.begin() + fake::kDigestSlotOffset + package::kDigestSlotMarkerSize;
    EXPECT_EQ(fake::Bytes(slot + 8, slot + 40),
              fake::Bytes(first.digest.begin(), first.digest.end()));
    EXPECT_EQ(package::Sha256Of(written.data() + 1000, written.size() - 1000), first.digest);

    fs::remove(request_.output);
    request_.files.clear();
    AddFile("setup.msi", fake::Pattern(300000, 2));
    EXPECT_NE(CreatePackage(request_).digest, first.digest);
}

// The choice goes into the image, which the signature covers, and nowhere else: the package and
// its digest are the default's.
TEST_F(Packing, TheInstallerExitCodeChangesTheChoiceInTheImageAlone) {
    AddStub(fake::PeImage(1000));
    AddFile("run.bat", fake::Pattern(15));
    Output();
    CreatePackage(request_);
    fake::Bytes expected = ReadBytes(request_.output);
    fs::remove(request_.output);

    request_.exitCode = package::ExitCodeChoice::installer;
    CreatePackage(request_);
    fake::Put32(expected, fake::kExitCodeSlotOffset + package::kExitCodeSlotMarkerSize, 1);
    EXPECT_EQ(ReadBytes(request_.output), expected);
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

TEST_F(Refusing, AFolderAsInput) {
    fs::create_directories(folder_ / "in" / "sub");
    request_.files.push_back(folder_ / "in" / "sub");
    EXPECT_NE(Refusal().find("is not a regular file"), std::string::npos);
    ExpectNothingWritten();
}

TEST_F(Refusing, ANameOfMoreThan259Bytes) {
    // Most Linux file systems stop at 255 bytes, so such a file cannot exist here; the name is
    // refused before the file is looked at.
    request_.files.push_back(folder_ / "in" / std::string(260, 'n'));
    const std::string refusal = Refusal();
    EXPECT_NE(refusal.find("the name is 260 bytes long; at most 259 fit a header"),
              std::string::npos)
        << refusal;
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

TEST_F(Refusing, ANonAsciiName) {
    AddFile("r\xC3\xA9sum\xC3\xA9.txt", {});
    const std::string refusal = Refusal();
    EXPECT_NE(refusal.find("byte \\xC3 at position 1 is not printable ASCII"), std::string::npos)
        << refusal;
    EXPECT_NE(refusal.find("ANSI code page"), std::string::npos) << refusal;
    ExpectNothingWritten();
}

TEST_F(Refusing, NamesThatDifferOnlyInCase) {
    fs::create_directories(folder_ / "in" / "other");
    const fs::path second = folder_ / "in" / "other" / "GOOD.TXT";
    WriteBytes(second, {});
    request_.files.push_back(second);
    const std::string refusal = Refusal();
    EXPECT_NE(refusal.find("matches 'good.txt' when case is ignored"), std::string::npos)
        << refusal;
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

TEST_F(Refusing, AStubWithoutADigestSlot) {
    WriteBytes(request_.stub, fake::PeImage(500)); // too short for PeImage to put a slot in
    EXPECT_NE(Refusal().find("has no digest slot"), std::string::npos);
    ExpectNothingWritten();
}

TEST_F(Refusing, AStubWithTwoDigestSlots) {
    fake::Bytes image = fake::PeImage(1000);
    std::copy(image.begin() + fake::kDigestSlotOffset,
              image.begin() + fake::kDigestSlotOffset + package::kDigestSlotSize,
              image.begin() + 800);
    WriteBytes(request_.stub, image);
    EXPECT_NE(Refusal().find("holds 2 digest slot markers"), std::string::npos);
    ExpectNothingWritten();
}

// A stub older than the slot packs as it always did, but cannot pass outcomes on.
TEST_F(Refusing, TheInstallerExitCodeForAStubWithoutTheSlot) {
    fake::Bytes image = fake::PeImage(1000);
    image[fake::kExitCodeSlotOffset] = 0; // the marker's first byte
    WriteBytes(request_.stub, image);
    request_.exitCode = package::ExitCodeChoice::installer;
    const std::string refusal = Refusal();
    EXPECT_NE(refusal.find("has no exit-code slot, so it cannot pass the installer's exit code on"),
              std::string::npos)
        << refusal;
    ExpectNothingWritten();

    request_.exitCode = package::ExitCodeChoice::zero;
    CreatePackage(request_);
    image.resize(1006, 0); // 1000 + 284 + 10 + 8 + 284, padded to a multiple of 8
    fake::Bytes expected = fake::Package(image, {{"good.txt", fake::Pattern(10)}}, "setup.exe");
    fake::FillDigestSlot(expected, image.size(), expected.size());
    EXPECT_EQ(ReadBytes(request_.output), expected);
}

TEST_F(Refusing, AStubWithTwoExitCodeSlotsOrAChoiceAlreadyMade) {
    fake::Bytes image = fake::PeImage(1000);
    std::copy(package::kExitCodeSlotMarker.begin(), package::kExitCodeSlotMarker.end(),
              image.begin() + 800);
    WriteBytes(request_.stub, image);
    EXPECT_NE(Refusal().find("holds 2 exit-code slot markers"), std::string::npos);

    image = fake::PeImage(1000);
    fake::Put32(image, fake::kExitCodeSlotOffset + package::kExitCodeSlotMarkerSize, 1);
    WriteBytes(request_.stub, image);
    EXPECT_NE(Refusal().find("its exit-code slot already holds 1; pack the stub as built"),
              std::string::npos);
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
