// The speed of the package hash on each block function, over one buffer in memory:
//   sha256speed.exe [MIB]   (256 MiB unless given)
// prints one line per path: its rate in MB/s (10^6 bytes, as `openssl speed` counts) at its best
// of three runs, and the start of the digest, the same on every path. The default path is given the
// buffer in pieces of the stub's copy block, as extraction would hash it. Also built natively
// (EXCLUDE_FROM_ALL), for the figure beside the Windows one; read that in a tree without
// sanitizers.
#include "package/Sha256.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <vector>

namespace {

constexpr int kRuns = 3;
constexpr std::size_t kPiece = 256 * 1024;

template <typename Hash>
void Time(const char* name, const std::vector<std::uint8_t>& buffer, Hash hash) {
    double best = 0;
    package::Sha256Digest digest{};
    for (int run = 0; run < kRuns; ++run) {
        const auto start = std::chrono::steady_clock::now();
        digest = hash(buffer);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (run == 0 || took.count() < best)
            best = took.count();
    }
    std::printf("%-24s %8.1f MB/s  (%.3f s)  digest %02x%02x%02x%02x...\n", name,
                buffer.size() / best / 1e6, best, digest[0], digest[1], digest[2], digest[3]);
}

package::Sha256Digest Whole(package::sha256_detail::BlockFunction blocks,
                            const std::vector<std::uint8_t>& buffer) {
    package::Sha256 hash(blocks);
    hash.Update(buffer.data(), buffer.size());
    return hash.Final();
}

int Run(unsigned long mebibytes) {
    if (mebibytes == 0)
        return 2;
    std::vector<std::uint8_t> buffer(mebibytes << 20);
    std::uint32_t x = 2463534242u;
    for (std::uint8_t& byte : buffer) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        byte = static_cast<std::uint8_t>(x);
    }
    std::printf("SHA-256 of %lu MiB in memory, %d-bit build\n", mebibytes,
                static_cast<int>(sizeof(void*) * 8));

    Time("portable", buffer, [](const std::vector<std::uint8_t>& b) {
        return Whole(package::sha256_detail::PortableBlocks, b);
    });
    if (const auto shaNi = package::sha256_detail::ShaNiBlocks())
        Time("SHA extensions", buffer,
             [shaNi](const std::vector<std::uint8_t>& b) { return Whole(shaNi, b); });
    else
        std::printf("%-28s not on this CPU\n", "SHA extensions");
    Time("default, 256 KiB pieces", buffer, [](const std::vector<std::uint8_t>& b) {
        package::Sha256 hash;
        for (std::size_t at = 0; at < b.size(); at += kPiece)
            hash.Update(b.data() + at, b.size() - at < kPiece ? b.size() - at : kPiece);
        return hash.Final();
    });
    return 0;
}

} // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    return Run(argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 256);
}
#else
int main(int argc, char** argv) {
    return Run(argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256);
}
#endif
