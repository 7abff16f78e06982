// The LZMA decoder fuzzer's seeds, written by the packing tool's encoder in the fuzzer's framing
// (original size, piece size, stream), so that the fuzzer starts from streams that decode to the
// end:
//   lzma_fuzz_seeds SEEDS_DIR
#include "packer/LzmaEncoder.h"

#include "package/MemoryByteSource.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

class Collect : public packer::LzmaSink {
public:
    bool Write(const std::uint8_t* data, std::size_t size) override {
        bytes.insert(bytes.end(), data, data + size);
        return true;
    }
    std::vector<std::uint8_t> bytes;
};

bool WriteSeed(const std::string& path, const std::vector<std::uint8_t>& input,
               std::uint8_t piece) {
    MemoryByteSource source(input);
    Collect stream;
    for (int i = 0; i < 8; ++i)
        stream.bytes.push_back(static_cast<std::uint8_t>(std::uint64_t{input.size()} >> (8 * i)));
    stream.bytes.push_back(piece);
    packer::EncodeLzma(source, 0, input.size(), stream);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written =
        std::fwrite(stream.bytes.data(), 1, stream.bytes.size(), file) == stream.bytes.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lzma_fuzz_seeds SEEDS_DIR\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::string text = "[Setup]\r\nProduct=Example\r\nRun=setup.exe /quiet\r\n"
                             "[Setup]\r\nProduct=Example 2\r\nRun=setup.exe /passive\r\n";
    std::vector<std::uint8_t> mixed;
    std::uint32_t x = 1;
    for (int i = 0; i < 3000; ++i) {
        x = x * 1103515245u + 12345u;
        // Runs, repeats at several distances and noise: literals, matches, repeats, short repeats.
        mixed.push_back(i % 500 < 200 ? static_cast<std::uint8_t>(x >> 24)
                                      : mixed[i - 1 - (x >> 16) % 64]);
    }
    const bool ok =
        WriteSeed(folder + "/empty", {}, 0) && WriteSeed(folder + "/one", {'x'}, 1) &&
        WriteSeed(folder + "/text", std::vector<std::uint8_t>(text.begin(), text.end()), 7) &&
        WriteSeed(folder + "/mixed", mixed, 0) &&
        WriteSeed(folder + "/zeros", std::vector<std::uint8_t>(2000, 0), 3);
    if (!ok) {
        std::fprintf(stderr, "lzma_fuzz_seeds: cannot write the seeds in %s\n", argv[1]);
        return 1;
    }
    return 0;
}
