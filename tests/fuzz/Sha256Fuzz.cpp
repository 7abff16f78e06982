// Arbitrary bytes hashed in pieces of sizes the fuzzer chooses: the digest must not depend on where
// the message is cut, the SHA extensions' block function must agree with the portable one, and
// both with OpenSSL. The piece sizes come from the end of the input, the message is what is left
// at its start, read in place, so a read past its end shows under AddressSanitizer.
#include "package/Sha256.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

namespace detail = package::sha256_detail;

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

package::Sha256Digest Hash(detail::BlockFunction blocks, const std::uint8_t* message,
                           std::size_t length, const std::vector<std::size_t>& pieces) {
    package::Sha256 hash(blocks);
    for (const std::size_t piece : pieces) {
        const std::size_t take = piece < length ? piece : length;
        hash.Update(message, take);
        message += take;
        length -= take;
    }
    hash.Update(message, length);
    return hash.Final();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider provider(data, size);
    std::vector<std::size_t> pieces(provider.ConsumeIntegralInRange<std::size_t>(0, 8));
    for (std::size_t& piece : pieces)
        piece = provider.ConsumeIntegralInRange<std::size_t>(0, 300);
    const std::size_t length = provider.remaining_bytes();

    const package::Sha256Digest whole = Hash(detail::PortableBlocks, data, length, {});
    if (Hash(detail::PortableBlocks, data, length, pieces) != whole)
        Broken("the portable digest depends on where the message is cut");
    if (const detail::BlockFunction shaNi = detail::ShaNiBlocks()) {
        if (Hash(shaNi, data, length, {}) != whole)
            Broken("the SHA extensions and the portable code disagree");
        if (Hash(shaNi, data, length, pieces) != whole)
            Broken("the SHA extensions' digest depends on where the message is cut");
    }

    unsigned char reference[EVP_MAX_MD_SIZE];
    unsigned int referenceSize = 0;
    if (EVP_Digest(data, length, reference, &referenceSize, EVP_sha256(), nullptr) != 1)
        Broken("OpenSSL failed");
    if (referenceSize != whole.size() || std::memcmp(reference, whole.data(), whole.size()) != 0)
        Broken("the digest differs from OpenSSL's");
    return 0;
}
