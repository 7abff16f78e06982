// The LZMA codec's speed and ratio on the files given, each compressed on its own:
//   lzmaspeed FILE...
// prints one line per file (its size, the stream's, compression and decompression MB/s, 10^6
// bytes of the original a second) and the totals. Every stream is decoded again and compared, so
// a wrong figure cannot pass for a fast one. Read it from a tree without sanitizers.
#include "package/LzmaDecoder.h"
#include "package/MemoryByteSource.h"
#include "packer/LzmaEncoder.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
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

// The stream in pieces of 64 KiB, as the stub reads a payload.
class Pieces : public package::LzmaInput {
public:
    explicit Pieces(const std::vector<std::uint8_t>& bytes) : bytes_(bytes) {}
    package::LzmaBytes Next() noexcept override {
        const std::size_t n = std::min<std::size_t>(64 * 1024, bytes_.size() - at_);
        package::LzmaBytes piece{bytes_.data() + at_, n};
        at_ += n;
        return piece;
    }

private:
    const std::vector<std::uint8_t>& bytes_;
    std::size_t at_ = 0;
};

class Check : public package::LzmaOutput {
public:
    explicit Check(const std::vector<std::uint8_t>& expected) : expected_(expected) {}
    bool Write(const std::uint8_t* data, std::size_t size) noexcept override {
        if (size > expected_.size() - at_ || std::memcmp(data, expected_.data() + at_, size) != 0)
            return false;
        at_ += size;
        return true;
    }

private:
    const std::vector<std::uint8_t>& expected_;
    std::size_t at_ = 0;
};

bool ReadFile(const char* path, std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return false;
    std::uint8_t buffer[1 << 16];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(file);
    return true;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

} // namespace

int main(int argc, char** argv) {
    std::uint64_t inTotal = 0, outTotal = 0;
    double encodeTotal = 0, decodeTotal = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<std::uint8_t> bytes;
        if (!ReadFile(argv[i], bytes)) {
            std::fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        MemoryByteSource source(bytes);
        Collect stream;
        auto start = std::chrono::steady_clock::now();
        packer::EncodeLzma(source, 0, bytes.size(), stream);
        const double encode = Seconds(start);
        Pieces input(stream.bytes);
        Check output(bytes);
        start = std::chrono::steady_clock::now();
        const package::LzmaResult result = package::DecodeLzma(input, bytes.size(), output);
        const double decode = Seconds(start);
        if (result != package::LzmaResult::done) {
            std::fprintf(stderr, "%s: the stream does not decode to the file\n", argv[i]);
            return 1;
        }
        std::printf("%s %zu -> %zu (%.3f), compress %.1f MB/s, decompress %.1f MB/s\n", argv[i],
                    bytes.size(), stream.bytes.size(),
                    bytes.empty() ? 0.0 : double(stream.bytes.size()) / double(bytes.size()),
                    double(bytes.size()) / 1e6 / encode, double(bytes.size()) / 1e6 / decode);
        inTotal += bytes.size();
        outTotal += stream.bytes.size();
        encodeTotal += encode;
        decodeTotal += decode;
    }
    std::printf("total %llu -> %llu (%.4f), compress %.2f MB/s, decompress %.1f MB/s\n",
                static_cast<unsigned long long>(inTotal), static_cast<unsigned long long>(outTotal),
                inTotal == 0 ? 0.0 : double(outTotal) / double(inTotal),
                double(inTotal) / 1e6 / encodeTotal, double(inTotal) / 1e6 / decodeTotal);
    return 0;
}
