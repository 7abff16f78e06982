// Reading a package the way a verifier must: strictly in order, every byte once, hashing what is
// read on the way. The stub extracts through it in the same pass that checks the package against
// the digest in its image's settings record; the packing tool checks a built file through it.
//
// A stream hands out what it reads from buffers it owns, in turn, and gives each block to its
// hasher as it goes; the hasher may work on that block, and a few before it, while the caller
// writes it out, and the stream does not read into a block again before the hasher is done with it.
#pragma once

#include "package/PackageFormat.h"
#include "package/Sha256.h"
#include "package/StubSettings.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace package {

// Takes the package's bytes in order.
class BlockHasher {
public:
    virtual ~BlockHasher() = default;
    // Adds `size` bytes to the digest. May return before they are hashed: they must stay as they
    // are until Lag() more calls to Add, or Finish, have returned.
    virtual void Add(const std::uint8_t* data, std::size_t size) noexcept = 0;
    virtual Sha256Digest Finish() noexcept = 0;
    // How many blocks, the last one given included, Add may leave unhashed when it returns.
    [[nodiscard]] virtual std::size_t Lag() const noexcept { return 0; }
    // Returns once every block given is hashed: none of them is read after that.
    virtual void Drain() noexcept {}
};

// Hashes on the calling thread.
class InlineHasher : public BlockHasher {
public:
    void Add(const std::uint8_t* data, std::size_t size) noexcept override;
    Sha256Digest Finish() noexcept override;

private:
    Sha256 sha_;
};

enum class PackageVerdict {
    unverified,    // the digest is empty: nothing to compare with
    matches,       // every byte vouched for was read, and the digest is the one recorded
    lengthDiffers, // the package in the file is longer or shorter than the digest says
    digestDiffers,
    unreadable, // a read failed, or the bytes were asked for out of order
};

struct Chunk {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

class PackageStream : public ByteSource {
public:
    // A payload of gigabytes takes few reads and writes; the stream holds one block more than
    // its hasher may lag behind.
    static constexpr std::size_t kBlockSize = 1024 * 1024;

    // The package of `file` from `start` (the first entry header) to `end` (the end of the
    // trailer, just before the certificate table), held against `vouched`. With a filled digest
    // only the bytes it vouches for are read, and `hasher` takes each of them; with an empty digest
    // the stream reads to `end`, skips by seeking, and hashes nothing.
    PackageStream(ByteSource& file, std::uint64_t start, std::uint64_t end,
                  const PackageDigest& vouched, BlockHasher& hasher);
    // Waits for the hasher to let go of the stream's blocks, however the reading ended.
    ~PackageStream() override;
    PackageStream(const PackageStream&) = delete;
    PackageStream& operator=(const PackageStream&) = delete;

    // Where reading stops: the end of what the digest vouches for, or of the package.
    std::uint64_t Length() override { return limit_; }
    // Copies what is read. Reading must go forward: an offset behind what was read already
    // fails (returns 0) and makes the package unreadable; bytes passed over are read and hashed.
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) override;
    // Up to `count` bytes (at most kBlockSize) at `offset` without a copy, valid until the next
    // read; fewer at the end, none on failure.
    Chunk Borrow(std::uint64_t offset, std::size_t count) noexcept;

    // Reads and hashes what is left, then compares. Call once, after the last read.
    PackageVerdict Finish() noexcept;

private:
    bool PassOver(std::uint64_t offset) noexcept;

    ByteSource& file_;
    BlockHasher& hasher_;
    PackageDigest vouched_;
    bool verifying_;
    std::uint64_t start_;
    std::uint64_t end_;
    std::uint64_t limit_;
    std::uint64_t position_;
    bool failed_ = false;
    std::vector<std::vector<std::uint8_t>> buffers_;
    std::size_t next_ = 0;
};

} // namespace package
