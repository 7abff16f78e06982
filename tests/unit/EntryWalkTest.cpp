#include "package/EntryWalk.h"

#include "tests/support/FakeStub.h"
#include "package/MemoryByteSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using package::WalkEnd;

constexpr std::uint64_t kImageSize = 1000;

struct Walked {
    package::WalkResult result;
    std::vector<std::string> names;
    std::vector<fake::Bytes> payloads;
};

// Walks from the located first header and copies each payload out of the file, as an extractor.
Walked Walk(const fake::Bytes& file) {
    MemoryByteSource source(file);
    Walked walked;
    const std::uint64_t first = package::LocatePackage(source).headerOffset;
    walked.result = package::WalkEntries(source, first, [&](const package::Entry& entry) {
        walked.names.push_back(package::HeaderName(entry.header));
        walked.payloads.emplace_back(file.begin() + entry.payloadOffset,
                                     file.begin() + entry.payloadOffset + entry.header.size);
        return true;
    });
    return walked;
}

fake::Bytes Build(const std::vector<fake::Entry>& entries) {
    return fake::Package(fake::PeImage(kImageSize), entries);
}

// ---- Well-formed packages -----------------------------------------------------------------------

TEST(WalkWellFormed, VisitsEveryEntryWithItsExactPayload) {
    const std::vector<fake::Entry> entries = {
        {"setup.msi", fake::Pattern(300)}, {"run.bat", fake::Pattern(15, 9)}, {"x", {0xFF}}};
    const Walked walked = Walk(Build(entries));
    EXPECT_EQ(walked.result.end, WalkEnd::complete);
    EXPECT_EQ(walked.result.entries, 3);
    ASSERT_EQ(walked.names, (std::vector<std::string>{"setup.msi", "run.bat", "x"}));
    for (std::size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(walked.payloads[i], entries[i].payload) << "entry " << i + 1;
    // Stopped just before the end marker: 1000 + 3 * 284 + 316 payload bytes.
    EXPECT_EQ(walked.result.offset, kImageSize + 3 * 284 + 316);
}

TEST(WalkWellFormed, ZeroSizeEntryIsFollowedDirectlyByTheNextHeader) {
    const Walked walked = Walk(Build({{"empty.txt", {}}, {"next.txt", fake::Pattern(5)}}));
    EXPECT_EQ(walked.result.end, WalkEnd::complete);
    ASSERT_EQ(walked.names, (std::vector<std::string>{"empty.txt", "next.txt"}));
    EXPECT_TRUE(walked.payloads[0].empty());
    EXPECT_EQ(walked.payloads[1], fake::Pattern(5));
}

TEST(WalkWellFormed, EntriesOf1024And1025BytesKeepTheirBoundaries) {
    const Walked walked = Walk(Build({{"a", fake::Pattern(1024, 1)},
                                      {"b", fake::Pattern(1025, 2)},
                                      {"c", fake::Pattern(1, 3)}}));
    EXPECT_EQ(walked.result.end, WalkEnd::complete);
    ASSERT_EQ(walked.payloads.size(), 3u);
    EXPECT_EQ(walked.payloads[0], fake::Pattern(1024, 1));
    EXPECT_EQ(walked.payloads[1], fake::Pattern(1025, 2));
    EXPECT_EQ(walked.payloads[2], fake::Pattern(1, 3));
}

TEST(WalkWellFormed, SignedFileIsWalkedTheSameWay) {
    fake::Bytes file = Build({{"a.txt", fake::Pattern(10)}});
    fake::AppendCertificateTable(file, 2048);
    const Walked walked = Walk(file);
    EXPECT_EQ(walked.result.end, WalkEnd::complete);
    EXPECT_EQ(walked.names, std::vector<std::string>{"a.txt"});
}

// ---- Counts -------------------------------------------------------------------------------------

fake::Bytes WithCount(std::int32_t count) {
    fake::Bytes file = Build({{"a", fake::Pattern(4)}, {"b", fake::Pattern(4)}});
    fake::Put32(file, kImageSize, static_cast<std::uint32_t>(count));
    return file;
}

TEST(WalkCounts, ZeroOrNegativeCountMeansNoEntries) {
    for (std::int32_t count : {0, -1, INT32_MIN}) {
        const Walked walked = Walk(WithCount(count));
        EXPECT_EQ(walked.result.end, WalkEnd::complete) << "count " << count;
        EXPECT_EQ(walked.result.entries, 0) << "count " << count;
        EXPECT_EQ(walked.result.offset, kImageSize) << "count " << count;
    }
}

TEST(WalkCounts, StopsOnceTheFirstHeaderCountIsReached) {
    fake::Bytes file = Build({{"a", fake::Pattern(4)}, {"b", fake::Pattern(4)}});
    fake::Put32(file, kImageSize, 1);
    EXPECT_EQ(Walk(file).names, std::vector<std::string>{"a"});
}

// Remembers the furthest byte any read asked for.
class RecordingSource : public MemoryByteSource {
public:
    using MemoryByteSource::MemoryByteSource;
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) override {
        furthest = std::max(furthest, offset + count);
        return MemoryByteSource::ReadAt(offset, buffer, count);
    }
    std::uint64_t furthest = 0;
};

TEST(WalkCounts, EndMarkerAndTrailerAreNeverRead) {
    const fake::Bytes file = Build({{"a", fake::Pattern(4)}, {"b", fake::Pattern(40)}});
    RecordingSource source(file);
    const package::WalkResult result =
        package::WalkEntries(source, kImageSize, [](const package::Entry&) { return true; });
    EXPECT_EQ(result.entries, 2);
    EXPECT_EQ(source.furthest, kImageSize + 2 * 284 + 4); // the second header, not beyond
    EXPECT_EQ(result.offset, file.size() - 284 - 8);
}

TEST(WalkCounts, EachHeaderCountIsHonoured) {
    // The second header announces only one entry, which has already been visited.
    fake::Bytes file = Build({{"a", fake::Pattern(4)}, {"b", fake::Pattern(4)}, {"c", {}}});
    fake::Put32(file, kImageSize + 284 + 4, 1);
    const Walked walked = Walk(file);
    EXPECT_EQ(walked.result.end, WalkEnd::complete);
    EXPECT_EQ(walked.names, std::vector<std::string>{"a"});
    EXPECT_EQ(walked.result.offset, kImageSize + 284 + 4);
}

TEST(WalkCounts, CountBeyondTheEntriesRunsIntoTheEndMarkerAndTrailer) {
    // Announcing 3 entries when 2 are there: the marker and trailer are read as a third header,
    // whose count (-1, from the 0xFF bytes) ends the walk without visiting it.
    fake::Bytes file = Build({{"a", fake::Pattern(4)}, {"b", fake::Pattern(4)}});
    fake::Put32(file, kImageSize, 3);
    fake::Put32(file, kImageSize + 288, 3);
    const Walked walked = Walk(file);
    EXPECT_EQ(walked.result.end, WalkEnd::complete);
    EXPECT_EQ(walked.result.entries, 2);
}

// ---- Damaged files ------------------------------------------------------------------------------

TEST(WalkDamaged, NoPackageWhenTheFirstHeaderOffsetIsZero) {
    const fake::Bytes file = fake::PeImage(2048);
    MemoryByteSource source(file);
    const package::WalkResult result =
        package::WalkEntries(source, 0, [](const package::Entry&) { return true; });
    EXPECT_EQ(result.end, WalkEnd::noPackage);
    EXPECT_EQ(result.entries, 0);
}

TEST(WalkDamaged, FirstHeaderAtOrBeyondTheEndIsTheEndOfTheData) {
    for (const std::uint64_t beyond : {std::uint64_t{0}, std::uint64_t{100}, UINT64_MAX - 100}) {
        fake::Bytes file = Build({{"a", fake::Pattern(4)}});
        fake::Put64(file, file.size() - 284 + 8, beyond > 100 ? beyond : file.size() + beyond);
        const Walked walked = Walk(file);
        EXPECT_EQ(walked.result.end, WalkEnd::endOfData) << beyond;
        EXPECT_EQ(walked.result.entries, 0);
    }
}

// A read that fails where the bytes are there is told apart from the end of the file.
class FailingByteSource : public MemoryByteSource {
public:
    FailingByteSource(const fake::Bytes& bytes, std::uint64_t failFrom)
        : MemoryByteSource(bytes), failFrom_(failFrom) {}
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) override {
        return offset >= failFrom_ ? 0 : MemoryByteSource::ReadAt(offset, buffer, count);
    }

private:
    std::uint64_t failFrom_;
};

TEST(WalkDamaged, FailedHeaderReadIsNoEndOfPackage) {
    const fake::Bytes file = Build({{"a", fake::Pattern(4)}, {"b", fake::Pattern(4)}});
    FailingByteSource source(file, kImageSize + 284 + 4);
    int visited = 0;
    const package::WalkResult result =
        package::WalkEntries(source, kImageSize, [&](const package::Entry&) { return ++visited; });
    EXPECT_EQ(result.end, WalkEnd::readFailed);
    EXPECT_EQ(result.entries, 1);
    EXPECT_EQ(result.offset, kImageSize + 284 + 4);
}

TEST(WalkDamaged, PayloadRunningPastTheEndStopsBeforeTheVisitor) {
    fake::Bytes file = Build({{"a", fake::Pattern(4)}, {"b", fake::Pattern(4)}});
    fake::Put64(file, kImageSize + 284 + 4 + 8, file.size()); // size of "b"
    const Walked walked = Walk(file);
    EXPECT_EQ(walked.result.end, WalkEnd::payloadPastEnd);
    EXPECT_EQ(walked.names, std::vector<std::string>{"a"});
    EXPECT_EQ(walked.result.offset, kImageSize + 284 + 4);
}

TEST(WalkDamaged, HugeSizeDoesNotWrapAround) {
    fake::Bytes file = Build({{"a", fake::Pattern(4)}});
    fake::Put64(file, kImageSize + 8, UINT64_MAX - kImageSize);
    EXPECT_EQ(Walk(file).result.end, WalkEnd::payloadPastEnd);
}

TEST(WalkDamaged, TruncatedFileCutsAHeaderShort) {
    // The file is cut inside the second header: read from the start (the trailer is gone).
    const fake::Bytes whole = Build({{"a", fake::Pattern(4)}, {"b", fake::Pattern(4)}});
    const fake::Bytes cut(whole.begin(), whole.begin() + kImageSize + 284 + 4 + 100);
    MemoryByteSource source(cut);
    int visited = 0;
    const package::WalkResult result =
        package::WalkEntries(source, kImageSize, [&](const package::Entry&) { return ++visited; });
    EXPECT_EQ(result.end, WalkEnd::shortHeader);
    EXPECT_EQ(result.entries, 1);
    EXPECT_EQ(visited, 1);
    EXPECT_EQ(result.offset, kImageSize + 284 + 4);
    EXPECT_EQ(result.last.headerBytes, 100u);
}

TEST(WalkDamaged, CutOffHeaderWhoseCountIsReachedEndsTheWalk) {
    // The stub takes the count from every header, even one cut off: a second header that
    // announces a single entry ends the package after the first.
    fake::Bytes whole = Build({{"a", fake::Pattern(4)}, {"b", fake::Pattern(4)}});
    fake::Put32(whole, kImageSize + 284 + 4, 1);
    const fake::Bytes cut(whole.begin(), whole.begin() + kImageSize + 284 + 4 + 10);
    MemoryByteSource source(cut);
    const package::WalkResult result =
        package::WalkEntries(source, kImageSize, [](const package::Entry&) { return true; });
    EXPECT_EQ(result.end, WalkEnd::complete);
    EXPECT_EQ(result.entries, 1);
}

TEST(WalkDamaged, VisitorCanStopTheWalk) {
    const fake::Bytes file = Build({{"a", fake::Pattern(4)}, {"b", fake::Pattern(4)}});
    MemoryByteSource source(file);
    const package::WalkResult result =
        package::WalkEntries(source, kImageSize, [](const package::Entry&) { return false; });
    EXPECT_EQ(result.end, WalkEnd::stopped);
    EXPECT_EQ(result.entries, 1);
}

// ---- Reading one entry against a limit ----------------------------------------------------------

TEST(ReadEntryAt, HeaderAndPayloadMustEndWithinTheLimit) {
    const fake::Bytes file = Build({{"a", fake::Pattern(16)}});
    MemoryByteSource source(file);
    const std::uint64_t payloadEnd = kImageSize + 284 + 16;
    EXPECT_EQ(package::ReadEntryAt(source, kImageSize, payloadEnd).status, package::EntryRead::ok);
    EXPECT_EQ(package::ReadEntryAt(source, kImageSize, payloadEnd - 1).status,
              package::EntryRead::payloadPastLimit);
    EXPECT_EQ(package::ReadEntryAt(source, kImageSize, kImageSize + 283).status,
              package::EntryRead::shortHeader);
    EXPECT_EQ(package::ReadEntryAt(source, kImageSize + 1, kImageSize).status,
              package::EntryRead::endOfData);
}

TEST(ReadEntryAt, LimitBeyondTheFileStillNeedsTheBytes) {
    const fake::Bytes file = Build({{"a", fake::Pattern(16)}});
    MemoryByteSource source(file);
    const package::EntryAt at = package::ReadEntryAt(source, file.size() - 100, UINT64_MAX);
    EXPECT_EQ(at.status, package::EntryRead::shortHeader);
    EXPECT_EQ(at.headerBytes, 100u);
}

} // namespace
