#include "package/PackageStream.h"

#include <algorithm>
#include <cstring>

namespace package {

void InlineHasher::Add(const std::uint8_t* data, std::size_t size) noexcept {
    sha_.Update(data, size);
}

Sha256Digest InlineHasher::Finish() noexcept {
    return sha_.Final();
}

namespace {

// Where reading stops: the end of what the digest vouches for when it is filled, else the end of
// the file, which an unverified package's entries may run to.
std::uint64_t ReadLimit(ByteSource& file, std::uint64_t start, const PackageDigest& vouched) {
    const std::uint64_t length = file.Length();
    if (!vouched.Filled() || start >= length)
        return length;
    return vouched.length < length - start ? start + vouched.length : length;
}

} // namespace

PackageStream::PackageStream(ByteSource& file, std::uint64_t start, std::uint64_t end,
                             const PackageDigest& vouched, BlockHasher& hasher)
    : file_(file), hasher_(hasher), vouched_(vouched), verifying_(vouched.Filled()), start_(start),
      end_(end), limit_(ReadLimit(file, start, vouched)), position_(start),
      // A package smaller than a block gets blocks of its own size: nothing more is ever read
      // into them, and a package of a few KiB does not fill megabytes with zeros.
      buffers_(verifying_ ? hasher.Lag() + 1 : 1,
               std::vector<std::uint8_t>(static_cast<std::size_t>(
                   std::min<std::uint64_t>(kBlockSize, limit_ > start ? limit_ - start : 0)))) {}

PackageStream::~PackageStream() {
    hasher_.Drain();
}

Chunk PackageStream::Borrow(std::uint64_t offset, std::size_t count) noexcept {
    if (!PassOver(offset))
        return Chunk();
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>({count, kBlockSize, limit_ - position_}));
    if (wanted == 0)
        return Chunk();
    std::uint8_t* block = buffers_[next_].data();
    const std::size_t got = file_.ReadAt(position_, block, wanted);
    // The limit lies within the file's length as taken when it was opened: a short read is a
    // failure, not the end.
    if (got != wanted)
        failed_ = true;
    if (got == 0)
        return Chunk();
    if (verifying_)
        hasher_.Add(block, got);
    position_ += got;
    next_ = (next_ + 1) % buffers_.size();
    return Chunk{block, got};
}

std::size_t PackageStream::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) {
    std::size_t copied = 0;
    while (copied < count) {
        const Chunk chunk = Borrow(offset + copied, count - copied);
        if (chunk.size == 0)
            break;
        std::memcpy(static_cast<std::uint8_t*>(buffer) + copied, chunk.data, chunk.size);
        copied += chunk.size;
    }
    return copied;
}

bool PackageStream::PassOver(std::uint64_t offset) noexcept {
    if (failed_ || offset < position_) {
        failed_ = true; // going back would hash some bytes twice and let others pass unread
        return false;
    }
    const std::uint64_t target = std::min(offset, limit_);
    if (!verifying_) {
        position_ = target; // nothing to hash: a seek does
    } else {
        while (position_ < target) {
            const std::uint64_t left = target - position_;
            if (Borrow(position_,
                       static_cast<std::size_t>(std::min<std::uint64_t>(left, kBlockSize)))
                    .size == 0)
                return false;
        }
    }
    return !failed_ && position_ == offset;
}

PackageVerdict PackageStream::Finish() noexcept {
    if (!verifying_)
        return PackageVerdict::unverified;
    (void)PassOver(limit_);
    const Sha256Digest digest = hasher_.Finish();
    if (failed_)
        return PackageVerdict::unreadable;
    const bool fits = start_ <= end_ && vouched_.length == end_ - start_;
    if (!fits || position_ != limit_ || limit_ != end_)
        return PackageVerdict::lengthDiffers;
    return digest == vouched_.digest ? PackageVerdict::matches : PackageVerdict::digestDiffers;
}

} // namespace package
