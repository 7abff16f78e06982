#include "package/Sha256.h"

#include <gtest/gtest.h>

// The native tree checks against OpenSSL's libcrypto too; the Windows tree runs the published
// vectors on the Windows build under Wine, where there is no libcrypto.
#ifdef UNPACK_OPENSSL_REFERENCE
#include <openssl/evp.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace {

using package::Sha256;
using package::Sha256Digest;
namespace detail = package::sha256_detail;

std::string Hex(const std::uint8_t* bytes, std::size_t size) {
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (std::size_t i = 0; i < size; ++i) {
        hex += digits[bytes[i] >> 4];
        hex += digits[bytes[i] & 15];
    }
    return hex;
}

std::string Hex(const Sha256Digest& digest) {
    return Hex(digest.data(), digest.size());
}

enum class Path { portable, shaNi };

void PrintTo(Path path, std::ostream* out) {
    *out << (path == Path::portable ? "portable" : "SHA extensions");
}

// Each test runs once per block function; the SHA extensions' one is skipped, not passed, on a
// CPU without them.
class Sha256Path : public testing::TestWithParam<Path> {
protected:
    void SetUp() override {
        if (GetParam() == Path::portable) {
            blocks_ = detail::PortableBlocks;
            return;
        }
        blocks_ = detail::ShaNiBlocks();
        if (blocks_ == nullptr)
            GTEST_SKIP() << "this CPU (or build target) has no SHA extensions: CPUID leaf 7 EBX "
                            "bit 29 with SSSE3 and SSE4.1";
    }

    detail::BlockFunction blocks_ = nullptr;
};

// FIPS 180-2, appendix B, and the NIST example of a two-block message of 896 bits. One object
// hashes them all in turn, so each digest also shows that Final left it ready for the next.
TEST_P(Sha256Path, PublishedVectors) {
    struct Vector {
        std::string message;
        const char* digest;
    };
    const Vector vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
         "lmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    Sha256 hash(blocks_);
    for (const Vector& vector : vectors) {
        hash.Update(vector.message.data(), vector.message.size());
        EXPECT_EQ(Hex(hash.Final()), vector.digest)
            << "message of " << vector.message.size() << " bytes: " << vector.message.substr(0, 64);
    }
}

#ifdef UNPACK_OPENSSL_REFERENCE

std::string OpenSslDigest(const std::vector<std::uint8_t>& message) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(message.data(), message.size(), digest, &size, EVP_sha256(), nullptr) != 1)
        return "OpenSSL failed";
    return Hex(digest, size);
}

// Random messages against OpenSSL, given in pieces cut at random points: every length up to five
// blocks (each padding case: 55 bytes still take the length in their block, 56 to 63 need another,
// a piece ending anywhere inside a block), then longer ones, whose whole blocks go to the block
// function many at a time from unaligned addresses. The buffer holds just the message, so a read
// past its end shows under AddressSanitizer.
TEST_P(Sha256Path, MatchesOpenSslWhereverTheMessageIsCut) {
    std::mt19937 random(GetParam() == Path::portable ? 1 : 2);
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; length <= 5 * 64; ++length)
        lengths.push_back(length);
    std::uniform_int_distribution<std::size_t> longLength(5 * 64, 300 * 1024);
    for (int i = 0; i < 40; ++i)
        lengths.push_back(longLength(random));

    Sha256 hash(blocks_);
    for (const std::size_t length : lengths) {
        std::vector<std::uint8_t> message(length);
        std::uniform_int_distribution<int> byte(0, 255);
        std::generate(message.begin(), message.end(), [&] { return std::uint8_t(byte(random)); });

        // Cuts anywhere, or close after the one before (pieces shorter than a block, zero too).
        std::vector<std::size_t> cuts{0, length};
        for (int i = std::uniform_int_distribution<int>(0, 8)(random); i > 0; --i) {
            const std::size_t last = cuts[cuts.size() - 2];
            cuts.insert(cuts.end() - 1,
                        random() % 2 ? std::uniform_int_distribution<std::size_t>(0, length)(random)
                                     : std::min(length, last + random() % 130));
        }
        std::sort(cuts.begin(), cuts.end());

        std::string pieces;
        for (std::size_t i = 1; i < cuts.size(); ++i) {
            hash.Update(message.data() + cuts[i - 1], cuts[i] - cuts[i - 1]);
            pieces += ' ' + std::to_string(cuts[i] - cuts[i - 1]);
        }
        ASSERT_EQ(Hex(hash.Final()), OpenSslDigest(message))
            << "message of " << length << " bytes given in pieces of" << pieces;
    }
}

#endif // UNPACK_OPENSSL_REFERENCE

INSTANTIATE_TEST_SUITE_P(BlockFunction, Sha256Path, testing::Values(Path::portable, Path::shaNi),
                         [](const testing::TestParamInfo<Path>& info) {
                             return info.param == Path::portable ? "Portable" : "ShaNi";
                         });

// The NIST long message: 2^33 bits, so a length kept or encoded in 32 bits shows. It runs on the
// block function the default constructor picks, the fastest (the length is not its business).
TEST(Sha256Default, GibibyteMessageNeedsTheLengthBeyond32Bits) {
    const char pattern[] = "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmno";
    std::vector<std::uint8_t> chunk(1 << 20);
    for (std::size_t i = 0; i < chunk.size(); i += 64)
        std::memcpy(&chunk[i], pattern, 64);
    Sha256 hash;
    for (int i = 0; i < 1024; ++i)
        hash.Update(chunk.data(), chunk.size());
    EXPECT_EQ(Hex(hash.Final()),
              "50e72a0e26442fe2552dc3938ac58658228c0cbfb1d2ca872ae435266fcd055e");
}

TEST(Sha256Default, OneShotHelper) {
    const char message[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Hex(package::Sha256Of(message, sizeof message - 1)),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

} // namespace
