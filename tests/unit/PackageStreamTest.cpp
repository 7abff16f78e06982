#include "package/PackageStream.h"

#include "package/EntryWalk.h"

#include "tests/support/FakeStub.h"
#include "package/MemoryByteSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

using package::PackageVerdict;

constexpr std::uint64_t kImage = 1000;

// Hashes each block only once two more have arrived, as a hasher on another thread may: a stream
// that reads into a block before its hasher is done with it gives a wrong digest here.
class LateHasher : public package::BlockHasher {
public:
    void Add(const std::uint8_t* data, std::size_t size) noexcept override {
        pending_.push_back({data, size});
        if (pending_.size() > Lag())
            HashOldest();
        bytes_ += size;
    }
    package::Sha256Digest Finish() noexcept override {
        while (!pending_.empty())
            HashOldest();
        return sha_.Final();
    }
    std::size_t Lag() const noexcept override { return 2; }
    std::uint64_t bytes_ = 0;

private:
    void HashOldest() {
        sha_.Update(pending_.front().first, pending_.front().second);
        pending_.erase(pending_.begin());
    }
    package::Sha256 sha_;
    std::vector<std::pair<const std::uint8_t*, std::size_t>> pending_;
};

fake::Bytes Packaged(const std::vector<fake::Entry>& entries) {
    return fake::Package(fake::PeImage(kImage), entries);
}

// The digest as the packing tool records it for this file.
package::PackageDigest DigestFor(const fake::Bytes& file) {
    package::PackageDigest vouched;
    vouched.length = file.size() - kImage;
    vouched.digest = package::Sha256Of(file.data() + kImage, file.size() - kImage);
    return vouched;
}

struct Extracted {
    PackageVerdict verdict = PackageVerdict::unverified;
    std::vector<std::string> names;
    std::uint64_t hashed = 0;
};

// Extracts as the stub does: payloads of the entries `keep` accepts are read through the stream,
// the others are passed over; then the stream is finished.
template <typename Keep>
Extracted Extract(const fake::Bytes& file, const package::PackageDigest& vouched, Keep keep) {
    MemoryByteSource source(file);
    LateHasher hasher;
    package::PackageStream stream(source, kImage, file.size(), vouched, hasher);
    Extracted out;
    package::WalkEntries(stream, kImage, [&](const package::Entry& entry) {
        const std::string name = package::HeaderName(entry.header);
        if (!keep(name))
            return true;
        std::uint64_t left = entry.header.size;
        std::string payload;
        while (left > 0) {
            const package::Chunk chunk =
                stream.Borrow(entry.payloadOffset + payload.size(),
                              static_cast<std::size_t>(std::min<std::uint64_t>(left, 4096)));
            EXPECT_NE(chunk.size, 0u) << name;
            if (chunk.size == 0)
                return false;
            payload.append(reinterpret_cast<const char*>(chunk.data), chunk.size);
            left -= chunk.size;
        }
        out.names.push_back(name + "=" + std::to_string(payload.size()));
        return true;
    });
    out.verdict = stream.Finish();
    out.hashed = hasher.bytes_;
    return out;
}

Extracted ExtractAll(const fake::Bytes& file, const package::PackageDigest& vouched) {
    return Extract(file, vouched, [](const std::string&) { return true; });
}

const std::vector<fake::Entry> kEntries = {{"setup.msi", fake::Pattern(700000, 1)},
                                           {"skip.me", fake::Pattern(300000, 2)},
                                           {"run.bat", fake::Pattern(15, 3)}};

TEST(PackageStream, MatchesWhenEveryByteIsVouchedForHoweverTheEntriesAreRead) {
    const fake::Bytes file = Packaged(kEntries);
    const package::PackageDigest vouched = DigestFor(file);

    const Extracted all = ExtractAll(file, vouched);
    EXPECT_EQ(all.verdict, PackageVerdict::matches);
    EXPECT_EQ(all.names,
              (std::vector<std::string>{"setup.msi=700000", "skip.me=300000", "run.bat=15"}));
    EXPECT_EQ(all.hashed, file.size() - kImage) << "each byte is hashed once";

    // A payload passed over is read and hashed all the same, end marker and trailer included.
    const Extracted some =
        Extract(file, vouched, [](const std::string& n) { return n != "skip.me"; });
    EXPECT_EQ(some.verdict, PackageVerdict::matches);
    EXPECT_EQ(some.hashed, file.size() - kImage);
}

TEST(PackageStream, RefusesAnyByteChangedAnywhereInThePackage) {
    const fake::Bytes genuine = Packaged(kEntries);
    const package::PackageDigest vouched = DigestFor(genuine);
    // A payload byte (also in an entry passed over), a header byte, the end marker, the trailer.
    const std::uint64_t skipped = kImage + 284 + 700000 + 284 + 5;
    for (const std::uint64_t at : {kImage + 284 + 650000, skipped, kImage + 20,
                                   genuine.size() - 284 - 3, genuine.size() - 1}) {
        fake::Bytes file = genuine;
        file[at] ^= 0x80;
        EXPECT_EQ(
            Extract(file, vouched, [](const std::string& n) { return n != "skip.me"; }).verdict,
            PackageVerdict::digestDiffers)
            << "byte " << at;
    }
}

TEST(PackageStream, RefusesAPackageLongerOrShorterThanTheDigestSays) {
    const fake::Bytes genuine = Packaged(kEntries);
    const package::PackageDigest vouched = DigestFor(genuine);

    fake::Bytes longer = genuine;
    longer.insert(longer.end(), 8, 0);
    EXPECT_EQ(ExtractAll(longer, vouched).verdict, PackageVerdict::lengthDiffers);

    const fake::Bytes shorter(genuine.begin(), genuine.end() - 1);
    EXPECT_EQ(ExtractAll(shorter, vouched).verdict, PackageVerdict::lengthDiffers);

    // Reading stops where the vouched length ends: an entry that runs past it is not handed out.
    const fake::Bytes more =
        Packaged({kEntries[0], kEntries[1], {"big.bin", fake::Pattern(5000, 4)}});
    const Extracted extra = ExtractAll(more, vouched);
    EXPECT_EQ(extra.verdict, PackageVerdict::lengthDiffers);
    EXPECT_EQ(extra.names.size(), 2u);
}

TEST(PackageStream, AnEmptyDigestReadsAsBeforeAndHashesNothing) {
    const fake::Bytes file = Packaged(kEntries);
    const Extracted all = ExtractAll(file, package::PackageDigest());
    EXPECT_EQ(all.verdict, PackageVerdict::unverified);
    EXPECT_EQ(all.names.size(), 3u);
    EXPECT_EQ(all.hashed, 0u);
}

TEST(PackageStream, ReadingBackwardsMakesThePackageUnreadable) {
    const fake::Bytes file = Packaged(kEntries);
    MemoryByteSource source(file);
    package::InlineHasher hasher;
    package::PackageStream stream(source, kImage, file.size(), DigestFor(file), hasher);
    std::uint8_t header[284];
    ASSERT_EQ(stream.ReadAt(kImage, header, sizeof header), sizeof header);
    EXPECT_EQ(stream.ReadAt(kImage, header, sizeof header), 0u);
    EXPECT_EQ(stream.Finish(), PackageVerdict::unreadable);
}

} // namespace
