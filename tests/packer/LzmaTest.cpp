// The LZMA codec: the tool's encoder and the stub's decoder against each other and against
// liblzma (the reference, in the tests only), and the decoder on streams no encoder writes.
#include "package/LzmaDecoder.h"
#include "package/Sha256.h"
#include "packer/LzmaEncoder.h"
#include "packer/PackError.h"

#include "package/MemoryByteSource.h"

#include <gtest/gtest.h>
#include <lzma.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace lzma_test {

using Bytes = std::vector<std::uint8_t>;
using package::LzmaResult;

// ---- Inputs -------------------------------------------------------------------------------------

Bytes Random(std::size_t size, std::uint32_t seed) {
    Bytes bytes(size);
    std::uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
    for (std::uint8_t& b : bytes) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = static_cast<std::uint8_t>(x >> 32);
    }
    return bytes;
}

// Words from a small vocabulary with punctuation: text-like statistics.
Bytes Text(std::size_t size) {
    static const char* const kWords[] = {"the",   "stub",     "extracts", "package", "into",
                                         "a",     "folder",   "and",      "runs",    "setup",
                                         "which", "installs", "files",    "of",      "Windows"};
    Bytes bytes;
    std::uint32_t x = 12345;
    while (bytes.size() < size) {
        x = x * 1103515245u + 12345u;
        const std::string word = kWords[(x >> 16) % 15];
        bytes.insert(bytes.end(), word.begin(), word.end());
        bytes.push_back((x >> 8) % 11 == 0 ? '\n' : ' ');
    }
    bytes.resize(size);
    return bytes;
}

Bytes Pattern(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>((i % 251) ^ (i / 251 % 7));
    return bytes;
}

// The first DLL of the benchmark set, where this host has it.
Bytes RealDll() {
    std::FILE* file = std::fopen("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/acledit.dll", "rb");
    Bytes bytes;
    if (file == nullptr)
        return bytes;
    std::uint8_t buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(file);
    return bytes;
}

// ---- Our codec ----------------------------------------------------------------------------------

class Collect : public packer::LzmaSink {
public:
    bool Write(const std::uint8_t* data, std::size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    Bytes bytes;
};

Bytes Encode(const Bytes& input, std::size_t readBlock = 0) {
    MemoryByteSource source(input);
    Collect sink;
    const bool finished = readBlock == 0
                              ? packer::EncodeLzma(source, 0, input.size(), sink)
                              : packer::EncodeLzma(source, 0, input.size(), sink, readBlock);
    EXPECT_TRUE(finished);
    return sink.bytes;
}

class Pieces : public package::LzmaInput {
public:
    Pieces(const Bytes& bytes, std::size_t piece) : bytes_(bytes), piece_(piece) {}
    package::LzmaBytes Next() noexcept override {
        const std::size_t n = std::min(piece_, bytes_.size() - at_);
        const package::LzmaBytes piece{bytes_.data() + at_, n};
        at_ += n;
        return piece;
    }

private:
    const Bytes& bytes_;
    std::size_t piece_;
    std::size_t at_ = 0;
};

class Output : public package::LzmaOutput {
public:
    bool Write(const std::uint8_t* data, std::size_t size) noexcept override {
        bytes.insert(bytes.end(), data, data + size);
        writes.push_back(size);
        return writes.size() <= refuseAfter;
    }
    Bytes bytes;
    std::vector<std::size_t> writes;
    std::size_t refuseAfter = SIZE_MAX;
};

struct Decoded {
    LzmaResult result;
    Output output;
};

Decoded Decode(const Bytes& stream, std::uint64_t size, std::size_t piece = 1 << 20) {
    Pieces input(stream, piece);
    Decoded decoded{LzmaResult::malformed, {}};
    decoded.result = package::DecodeLzma(input, size, decoded.output);
    return decoded;
}

// ---- liblzma ------------------------------------------------------------------------------------

lzma_options_lzma Options(unsigned lc, unsigned lp, unsigned pb, std::uint32_t dictionary,
                          std::uint64_t size) {
    lzma_options_lzma options{};
    lzma_lzma_preset(&options, 6);
    options.lc = lc;
    options.lp = lp;
    options.pb = pb;
    options.dict_size = dictionary;
    options.ext_flags = 0; // no end marker: the size is known
    options.ext_size_low = static_cast<std::uint32_t>(size);
    options.ext_size_high = static_cast<std::uint32_t>(size >> 32);
    return options;
}

Bytes RunLiblzma(lzma_stream& stream, const Bytes& input, std::size_t limit) {
    Bytes out(limit + 64);
    stream.next_in = input.data();
    stream.avail_in = input.size();
    stream.next_out = out.data();
    stream.avail_out = out.size();
    lzma_ret ret = LZMA_OK;
    while (ret == LZMA_OK)
        ret = lzma_code(&stream, LZMA_FINISH);
    EXPECT_EQ(ret, LZMA_STREAM_END);
    out.resize(stream.total_out);
    lzma_end(&stream);
    return out;
}

// liblzma's decoder on one of our streams, taking its properties from the first five bytes.
Bytes LiblzmaDecode(const Bytes& stream, std::uint64_t size) {
    EXPECT_GE(stream.size(), package::kLzmaPropertiesSize);
    unsigned props = stream[0];
    const std::uint32_t dictionary =
        stream[1] | stream[2] << 8 | stream[3] << 16 | static_cast<std::uint32_t>(stream[4]) << 24;
    lzma_options_lzma options = Options(props % 9, props / 9 % 5, props / 45,
                                        std::max<std::uint32_t>(dictionary, 4096), size);
    lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream strm = LZMA_STREAM_INIT;
    EXPECT_EQ(lzma_raw_decoder(&strm, filters), LZMA_OK);
    const Bytes body(stream.begin() + package::kLzmaPropertiesSize, stream.end());
    return RunLiblzma(strm, body, static_cast<std::size_t>(size));
}

// A stream as liblzma writes it, behind the five property bytes; with `endMarker`, the plain
// LZMA1 filter, which always ends with the marker.
Bytes LiblzmaEncode(const Bytes& input, unsigned lc, unsigned lp, unsigned pb,
                    std::uint32_t dictionary, bool endMarker = false) {
    lzma_options_lzma options = Options(lc, lp, pb, dictionary, input.size());
    lzma_filter filters[] = {{endMarker ? LZMA_FILTER_LZMA1 : LZMA_FILTER_LZMA1EXT, &options},
                             {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream strm = LZMA_STREAM_INIT;
    EXPECT_EQ(lzma_raw_encoder(&strm, filters), LZMA_OK);
    Bytes stream = {
        static_cast<std::uint8_t>((pb * 5 + lp) * 9 + lc), static_cast<std::uint8_t>(dictionary),
        static_cast<std::uint8_t>(dictionary >> 8), static_cast<std::uint8_t>(dictionary >> 16),
        static_cast<std::uint8_t>(dictionary >> 24)};
    const Bytes body = RunLiblzma(strm, input, input.size() * 2 + 1024);
    stream.insert(stream.end(), body.begin(), body.end());
    return stream;
}

// ---- Round trips --------------------------------------------------------------------------------

// Our stream decodes to the input with our decoder (in 1-byte and in large pieces) and with
// liblzma's.
void ExpectRoundTrip(const Bytes& input) {
    const Bytes stream = Encode(input);
    const Decoded whole = Decode(stream, input.size());
    ASSERT_EQ(whole.result, LzmaResult::done);
    EXPECT_TRUE(whole.output.bytes == input);
    const Decoded bytewise = Decode(stream, input.size(), 1);
    ASSERT_EQ(bytewise.result, LzmaResult::done);
    EXPECT_TRUE(bytewise.output.bytes == input);
    if (!input.empty()) { // liblzma reads nothing of a stream for no bytes
        EXPECT_TRUE(LiblzmaDecode(stream, input.size()) == input);
    }
}

TEST(LzmaRoundTrip, EmptyInputIsPropertiesAndFiveZeroBytes) {
    const Bytes stream = Encode({});
    EXPECT_EQ(stream, (Bytes{0x5D, 0x00, 0x10, 0x00, 0x00, 0, 0, 0, 0, 0}));
    ExpectRoundTrip({});
}

TEST(LzmaRoundTrip, SmallInputs) {
    ExpectRoundTrip({0x42});
    ExpectRoundTrip({0, 0});
    ExpectRoundTrip(Text(100));
    ExpectRoundTrip(Random(5000, 1));
}

TEST(LzmaRoundTrip, IncompressibleGrowsByLittle) {
    const Bytes input = Random(2 << 20, 2);
    ExpectRoundTrip(input);
    EXPECT_LT(Encode(input).size(), input.size() + input.size() / 50);
}

TEST(LzmaRoundTrip, TextCompresses) {
    const Bytes input = Text(300000);
    ExpectRoundTrip(input);
    EXPECT_LT(Encode(input).size(), input.size() / 4);
}

// 20 MiB with an 8 MiB dictionary: the encoder's window slides and the decoder's wraps twice,
// writing out each full window at once.
TEST(LzmaRoundTrip, LongerThanTheWindow) {
    const Bytes input = Pattern(20 << 20);
    const Bytes stream = Encode(input);
    EXPECT_EQ(stream[3], package::kLzmaMaxDictionary >> 16);
    const Decoded decoded = Decode(stream, input.size(), 777);
    ASSERT_EQ(decoded.result, LzmaResult::done);
    EXPECT_TRUE(decoded.output.bytes == input);
    EXPECT_EQ(decoded.output.writes, (std::vector<std::size_t>{8 << 20, 8 << 20, 4 << 20}));
    EXPECT_TRUE(LiblzmaDecode(stream, input.size()) == input);
}

TEST(LzmaRoundTrip, RealDll) {
    const Bytes input = RealDll();
    if (input.empty())
        GTEST_SKIP() << "no Wine DLL on this host";
    ExpectRoundTrip(input);
}

// ---- Streams liblzma writes ---------------------------------------------------------------------

TEST(LzmaDecoder, ReadsOtherPropertiesWithoutEndMarker) {
    Bytes input = Text(200000);
    const Bytes random = Random(30000, 3);
    input.insert(input.begin() + 100000, random.begin(), random.end());
    struct Case {
        unsigned lc, lp, pb;
        std::uint32_t dictionary;
    };
    for (const Case c : {Case{0, 2, 0, 1 << 20}, Case{3, 0, 2, 64 << 10}, Case{4, 0, 4, 1 << 16},
                         Case{1, 3, 1, 4096}, Case{0, 4, 3, 8 << 20}}) {
        SCOPED_TRACE(testing::Message() << c.lc << "/" << c.lp << "/" << c.pb);
        const Bytes stream = LiblzmaEncode(input, c.lc, c.lp, c.pb, c.dictionary);
        const Decoded decoded = Decode(stream, input.size(), 4099);
        ASSERT_EQ(decoded.result, LzmaResult::done);
        EXPECT_TRUE(decoded.output.bytes == input);
    }
}

TEST(LzmaDecoder, RefusesAnEndMarker) {
    const Bytes input = Text(5000);
    const Bytes stream = LiblzmaEncode(input, 3, 0, 2, 1 << 16, true);
    const Decoded decoded = Decode(stream, input.size());
    EXPECT_EQ(decoded.result, LzmaResult::malformed);
    EXPECT_LE(decoded.output.bytes.size(), input.size());
}

// A distance beyond the dictionary the properties name: liblzma's stream with a 64 KiB window
// said to have 4 KiB.
TEST(LzmaDecoder, RefusesADistanceBeyondTheDictionary) {
    Bytes input = Random(20000, 4);
    const Bytes again(input.begin(), input.begin() + 10000);
    input.insert(input.end(), again.begin(), again.end());
    Bytes stream = LiblzmaEncode(input, 3, 0, 2, 1 << 16);
    ASSERT_EQ(Decode(stream, input.size()).result, LzmaResult::done);
    stream[1] = 0x00;
    stream[2] = 0x10;
    stream[3] = 0x00;
    const Decoded decoded = Decode(stream, input.size());
    EXPECT_EQ(decoded.result, LzmaResult::malformed);
    EXPECT_LE(decoded.output.bytes.size(), input.size());
}

// ---- Crafted streams ----------------------------------------------------------------------------

// Bits of a stream whose every probability is still at its start (each context used once), so a
// range coder of fixed one-half probability writes it: enough to make symbols no encoder writes.
Bytes Crafted(const std::vector<int>& bits) {
    Bytes out = {0x5D, 0x00, 0x00, 0x01, 0x00};
    std::uint64_t low = 0;
    std::uint32_t range = 0xFFFFFFFFu;
    std::uint8_t cache = 0;
    std::uint64_t pending = 1;
    auto shift = [&] {
        if (static_cast<std::uint32_t>(low) < 0xFF000000u || (low >> 32) != 0) {
            std::uint8_t held = cache;
            do {
                out.push_back(static_cast<std::uint8_t>(held + (low >> 32)));
                held = 0xFF;
            } while (--pending != 0);
            cache = static_cast<std::uint8_t>(low >> 24);
        }
        ++pending;
        low = (low & 0x00FFFFFFu) << 8;
    };
    for (const int bit : bits) {
        const std::uint32_t bound = (range >> 11) * 1024;
        if (bit == 0) {
            range = bound;
        } else {
            low += bound;
            range -= bound;
        }
        while (range < (1u << 24)) {
            range <<= 8;
            shift();
        }
    }
    for (int i = 0; i < 5; ++i)
        shift();
    return out;
}

// Literal 'a' at position 0: not a match, then its eight bits.
const std::vector<int> kLiteralA = {0, 0, 1, 1, 0, 0, 0, 0, 1};
// At position 1 (state 0, posState 1): a match, not a repeat, length 2 (choice 0, low 000), then
// the six bits of distance slot `slot`.
std::vector<int> MatchAtOne(int slot) {
    std::vector<int> bits = kLiteralA;
    for (int b : {1, 0, 0, 0, 0, 0})
        bits.push_back(b);
    for (int i = 5; i >= 0; --i)
        bits.push_back((slot >> i) & 1);
    return bits;
}

TEST(LzmaDecoder, CraftedMatchesAreCheckedAgainstWhatWasDecoded) {
    // Distance 1 after one byte, 2 long: "aaa".
    const Decoded good = Decode(Crafted(MatchAtOne(0)), 3);
    ASSERT_EQ(good.result, LzmaResult::done);
    EXPECT_EQ(good.output.bytes, (Bytes{'a', 'a', 'a'}));
    // The same match running past the size.
    EXPECT_EQ(Decode(Crafted(MatchAtOne(0)), 2).result, LzmaResult::malformed);
    // Distance 2 after one byte.
    const Decoded far = Decode(Crafted(MatchAtOne(1)), 3);
    EXPECT_EQ(far.result, LzmaResult::malformed);
    EXPECT_LE(far.output.bytes.size(), 3u);
    // A short repeat before any byte: match, repeat, rep0, short.
    EXPECT_EQ(Decode(Crafted({1, 1, 0, 0}), 1).result, LzmaResult::malformed);
    // Nothing at all for one byte.
    EXPECT_EQ(Decode(Crafted({}), 1).result, LzmaResult::malformed);
    EXPECT_EQ(Decode(Crafted({}), 0).result, LzmaResult::done);
}

// ---- Damaged streams ----------------------------------------------------------------------------

class LzmaDamage : public testing::Test {
protected:
    void SetUp() override {
        input_ = Text(60000);
        const Bytes dll = RealDll();
        const Bytes random = Random(20000, 5);
        input_.insert(input_.end(), dll.begin(),
                      dll.begin() + std::min<std::size_t>(dll.size(), 100000));
        input_.insert(input_.end(), random.begin(), random.end());
        stream_ = Encode(input_);
    }

    // Malformed, and never more than the size written.
    void ExpectMalformed(const Bytes& stream, std::uint64_t size) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{1} << 20}) {
            const Decoded decoded = Decode(stream, size, piece);
            EXPECT_EQ(decoded.result, LzmaResult::malformed);
            EXPECT_LE(decoded.output.bytes.size(), size);
        }
    }

    Bytes input_;
    Bytes stream_;
};

TEST_F(LzmaDamage, CutShort) {
    for (std::size_t keep : {std::size_t{0}, std::size_t{3}, std::size_t{5}, std::size_t{9},
                             stream_.size() / 2, stream_.size() - 1}) {
        SCOPED_TRACE(keep);
        ExpectMalformed(Bytes(stream_.begin(), stream_.begin() + keep), input_.size());
    }
}

TEST_F(LzmaDamage, TrailingBytesAndWrongSizes) {
    Bytes longer = stream_;
    longer.push_back(0);
    ExpectMalformed(longer, input_.size());
    ExpectMalformed(stream_, input_.size() + 1);
    ExpectMalformed(stream_, input_.size() - 1);
    ExpectMalformed(stream_, 0);
}

TEST_F(LzmaDamage, Properties) {
    Bytes stream = stream_;
    // The largest dictionary still reads (the window only grows to the size).
    stream[1] = stream[2] = 0;
    stream[3] = 0x80;
    stream[4] = 0;
    EXPECT_EQ(Decode(stream, input_.size()).result, LzmaResult::done);
    stream[1] = 1; // one byte more
    ExpectMalformed(stream, input_.size());
    stream[1] = 0;
    stream[4] = 0xFF;
    ExpectMalformed(stream, input_.size());

    for (std::uint8_t props :
         {std::uint8_t{225}, std::uint8_t{255}, std::uint8_t{(0 * 5 + 1) * 9 + 4},
          std::uint8_t{(0 * 5 + 4) * 9 + 1}}) {
        stream = stream_;
        stream[0] = props;
        ExpectMalformed(stream, input_.size());
    }
    stream = stream_;
    stream[package::kLzmaPropertiesSize] = 1; // the range coder's first byte
    ExpectMalformed(stream, input_.size());
}

TEST_F(LzmaDamage, FlippedBytes) {
    for (std::size_t at = package::kLzmaPropertiesSize + 1; at < stream_.size();
         at += stream_.size() / 23) {
        SCOPED_TRACE(at);
        Bytes stream = stream_;
        stream[at] ^= 0x20;
        const Decoded decoded = Decode(stream, input_.size(), 4096);
        EXPECT_LE(decoded.output.bytes.size(), input_.size());
        // The coder cannot always tell; then the package's digest does.
        if (decoded.result == LzmaResult::done)
            EXPECT_EQ(decoded.output.bytes.size(), input_.size());
        else
            EXPECT_EQ(decoded.result, LzmaResult::malformed);
    }
}

// ---- Failures of the ends -----------------------------------------------------------------------

TEST(LzmaEnds, RefusedWritesStopTheDecoder) {
    const Bytes input = Pattern(9 << 20);
    const Bytes stream = Encode(input);
    Pieces in(stream, 1 << 20);
    Output out;
    out.refuseAfter = 0;
    EXPECT_EQ(package::DecodeLzma(in, input.size(), out), LzmaResult::writeFailed);
    EXPECT_EQ(out.writes.size(), 1u);
}

class StoppingSink : public packer::LzmaSink {
public:
    bool Write(const std::uint8_t*, std::size_t) override { return ++writes < 2; }
    int writes = 0;
};

TEST(LzmaEnds, ARefusingSinkStopsTheEncoder) {
    const Bytes input = Random(1 << 20, 6);
    MemoryByteSource source(input);
    StoppingSink sink;
    EXPECT_FALSE(packer::EncodeLzma(source, 0, input.size(), sink));
    EXPECT_EQ(sink.writes, 2);
}

TEST(LzmaEnds, AShortReadIsAnError) {
    const Bytes input = Text(10000);
    MemoryByteSource source(input);
    Collect sink;
    EXPECT_THROW(packer::EncodeLzma(source, 5000, input.size(), sink), packer::PackError);
    // From an offset, the bytes there.
    const Bytes tail(input.begin() + 5000, input.end());
    Collect part;
    EXPECT_TRUE(packer::EncodeLzma(source, 5000, tail.size(), part));
    EXPECT_EQ(part.bytes, Encode(tail));
}

// ---- Determinism --------------------------------------------------------------------------------

TEST(LzmaEncoder, SameBytesWhateverTheReadSize) {
    Bytes input = Text(400000);
    const Bytes random = Random(50000, 7);
    input.insert(input.begin() + 200000, random.begin(), random.end());
    const Bytes stream = Encode(input);
    EXPECT_EQ(Encode(input), stream);
    EXPECT_EQ(Encode(input, 1), stream);
    EXPECT_EQ(Encode(input, 4099), stream);
    EXPECT_EQ(Encode(input, 8 << 20), stream);
}

// The packing tool's Linux and Windows builds must write the same package for the same files, and
// a rebuilt tool the same package as the release it rebuilds: a change in what the encoder writes
// changes every package, so it must be a decision, made here by updating the digest, never a side
// effect of a compiler, a platform or a refactoring.
TEST(LzmaEncoder, WritesTheRecordedStream) {
    Bytes input = Text(70000);
    const Bytes random = Random(3000, 8);
    input.insert(input.begin() + 30000, random.begin(), random.end());
    const Bytes stream = Encode(input);
    const package::Sha256Digest digest = package::Sha256Of(stream.data(), stream.size());
    std::string hex;
    for (const std::uint8_t b : digest) {
        static const char kHex[] = "0123456789abcdef";
        hex += kHex[b >> 4];
        hex += kHex[b & 15];
    }
    EXPECT_EQ(hex, "59802b00a1be05401f1a380a59045547bb4ad2d28f36a0f27f9a0dca085fabc6");
}

} // namespace lzma_test
