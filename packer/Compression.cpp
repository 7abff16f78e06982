#include "packer/Compression.h"

#include "packer/LzmaEncoder.h"
#include "packer/PackError.h"
#include "packer/Payloads.h"

#include "package/MemoryByteSource.h"
#include "package/PayloadHeader.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace packer {

namespace {

// A file is tried on its first MiB before all of it is compressed: what does not shrink there
// (already compressed, or random) is stored without the cost of compressing gigabytes.
constexpr std::uint64_t kProbeSize = 1 << 20;

// The largest stream worth keeping for `size` bytes: it and its payload header save 1/32 of them.
std::uint64_t WorthKeeping(std::uint64_t size) {
    const std::uint64_t most = size - size / 32;
    return most > package::kPayloadHeaderSize ? most - package::kPayloadHeaderSize : 0;
}

// Keeps the stream, or stops the encoder once it is larger than `limit`.
class StreamUpTo : public LzmaSink {
public:
    StreamUpTo(std::uint64_t limit, bool keep) : limit_(limit), keep_(keep) {}
    bool Write(const std::uint8_t* data, std::size_t size) override {
        written_ += size;
        if (written_ > limit_)
            return false;
        if (keep_)
            stream_.insert(stream_.end(), data, data + size);
        return true;
    }
    std::vector<std::uint8_t>& Stream() { return stream_; }

private:
    std::uint64_t limit_;
    bool keep_;
    std::uint64_t written_ = 0;
    std::vector<std::uint8_t> stream_;
};

// Reads the stream back as the stub will, comparing every byte with the file.
void RequireDecodesTo(const std::vector<std::uint8_t>& stream, package::ByteSource& file,
                      std::uint64_t size, const std::string& what) {
    MemoryByteSource source(stream);
    PayloadView view;
    view.method = package::PayloadMethod::lzma;
    view.originalSize = size;
    view.size = stream.size();
    std::vector<std::uint8_t> expected;
    std::uint64_t at = 0;
    const std::string failure =
        "compressing " + what + " went wrong: the stream does not decode to it";
    ReadOriginal(
        source, view,
        [&](const std::uint8_t* data, std::size_t count) {
            expected.resize(count);
            if (file.ReadAt(at, expected.data(), count) != count ||
                std::memcmp(expected.data(), data, count) != 0)
                throw PackError(failure);
            at += count;
        },
        failure);
    if (at != size)
        throw PackError(failure);
}

} // namespace

KeptEntry KeepEntry(package::ByteSource& file, std::uint64_t size, const std::string& what) {
    KeptEntry kept;
    if (WorthKeeping(size) == 0)
        return kept;
    if (size > kProbeSize) {
        StreamUpTo probe(WorthKeeping(kProbeSize), false);
        if (!EncodeLzma(file, 0, kProbeSize, probe))
            return kept;
    }
    StreamUpTo full(WorthKeeping(size), true);
    if (!EncodeLzma(file, 0, size, full))
        return kept;
    RequireDecodesTo(full.Stream(), file, size, what);
    kept.method = package::PayloadMethod::lzma;
    kept.stream = std::move(full.Stream());
    return kept;
}

} // namespace packer
