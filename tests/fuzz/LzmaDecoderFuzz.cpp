// Arbitrary bytes taken for an LZMA payload: the first 8 bytes give the original size
// (little-endian), the 9th the size of the pieces the stream arrives in (0: one piece), the rest is
// the stream, read in place so that a read past its end shows under AddressSanitizer. The decoder
// must not crash, write more than the size, or call a stream done with fewer bytes out; and what
// it calls done, liblzma (the reference, as in the unit tests) must decode to the same bytes.
#include "package/LzmaDecoder.h"

#include <lzma.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

class Pieces : public package::LzmaInput {
public:
    Pieces(const std::uint8_t* data, std::size_t size, std::size_t piece)
        : data_(data), size_(size), piece_(piece == 0 ? size : piece) {}
    package::LzmaBytes Next() noexcept override {
        if (ended_)
            Broken("the input was asked for more after its end");
        const std::size_t n = piece_ < size_ - at_ ? piece_ : size_ - at_;
        if (n == 0)
            ended_ = true;
        const package::LzmaBytes piece{data_ + at_, n};
        at_ += n;
        return piece;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t piece_;
    std::size_t at_ = 0;
    bool ended_ = false;
};

// Keeps what it is given, up to a bound (the fuzzer's sizes are small, the claimed size may not
// be), and checks the total against the size.
class Output : public package::LzmaOutput {
public:
    explicit Output(std::uint64_t size) : size_(size) {}
    bool Write(const std::uint8_t* data, std::size_t size) noexcept override {
        if (size > size_ - total_)
            Broken("more bytes written than the original size");
        total_ += size;
        if (bytes.size() + size <= kKept)
            bytes.insert(bytes.end(), data, data + size);
        else
            kept_ = false;
        return true;
    }
    std::uint64_t Total() const { return total_; }
    bool KeptAll() const { return kept_; }
    std::vector<std::uint8_t> bytes;

private:
    static constexpr std::size_t kKept = 16u << 20;
    std::uint64_t size_;
    std::uint64_t total_ = 0;
    bool kept_ = true;
};

void CompareWithLiblzma(const std::uint8_t* stream, std::size_t length,
                        const std::vector<std::uint8_t>& expected) {
    const unsigned props = stream[0];
    std::uint32_t dictionary = 0;
    std::memcpy(&dictionary, stream + 1, 4); // the fuzz tree is little-endian
    lzma_options_lzma options{};
    lzma_lzma_preset(&options, 0);
    options.lc = props % 9;
    options.lp = props / 9 % 5;
    options.pb = props / 45;
    options.dict_size = dictionary < 4096 ? 4096 : dictionary;
    options.ext_flags = 0;
    options.ext_size_low = static_cast<std::uint32_t>(expected.size());
    options.ext_size_high = 0;
    lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream strm = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&strm, filters) != LZMA_OK)
        Broken("liblzma refuses properties the decoder took");
    std::vector<std::uint8_t> out(expected.size() + 16);
    strm.next_in = stream + package::kLzmaPropertiesSize;
    strm.avail_in = length - package::kLzmaPropertiesSize;
    strm.next_out = out.data();
    strm.avail_out = out.size();
    lzma_ret ret = LZMA_OK;
    while (ret == LZMA_OK)
        ret = lzma_code(&strm, LZMA_FINISH);
    const std::size_t produced = static_cast<std::size_t>(strm.total_out);
    lzma_end(&strm);
    if (ret != LZMA_STREAM_END || produced != expected.size() ||
        std::memcmp(out.data(), expected.data(), produced) != 0)
        Broken("liblzma decodes a stream the decoder called done to other bytes");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 9)
        return 0;
    std::uint64_t originalSize = 0;
    for (int i = 7; i >= 0; --i)
        originalSize = (originalSize << 8) | data[i];
    const std::uint8_t* stream = data + 9;
    const std::size_t length = size - 9;
    Pieces input(stream, length, data[8]);
    Output output(originalSize);
    const package::LzmaResult result = package::DecodeLzma(input, originalSize, output);
    if (result == package::LzmaResult::done) {
        if (output.Total() != originalSize)
            Broken("a stream called done with a byte count other than its size");
        if (originalSize > 0 && output.KeptAll())
            CompareWithLiblzma(stream, length, output.bytes);
    } else if (result != package::LzmaResult::malformed) {
        Broken("a refusal the output never made");
    }
    return 0;
}
