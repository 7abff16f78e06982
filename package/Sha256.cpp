#include "package/Sha256.h"

#include <atomic>
#include <cstring>

#if defined(__i386__) || defined(__x86_64__)
#define UNPACK_SHA256_X86 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace package {

namespace {

alignas(16) constexpr std::uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr std::uint32_t kInitialState[8] = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

// The compiler makes this one load and a byte swap.
inline std::uint32_t LoadBigEndian(const std::uint8_t* in) noexcept {
    return static_cast<std::uint32_t>(in[0]) << 24 | static_cast<std::uint32_t>(in[1]) << 16 |
           static_cast<std::uint32_t>(in[2]) << 8 | static_cast<std::uint32_t>(in[3]);
}

void StoreBigEndian(std::uint8_t* out, std::uint32_t value) noexcept {
    out[0] = static_cast<std::uint8_t>(value >> 24);
    out[1] = static_cast<std::uint8_t>(value >> 16);
    out[2] = static_cast<std::uint8_t>(value >> 8);
    out[3] = static_cast<std::uint8_t>(value);
}

// One instruction: the compiler knows the idiom.
inline std::uint32_t Rotr(std::uint32_t x, int n) noexcept {
    return x >> n | x << (32 - n);
}

// One round. The caller names the eight working variables rotated by one for each round instead
// of moving them, so that the unrolled rounds keep them in place: only d and h change.
inline void Round(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t& d,
                  std::uint32_t e, std::uint32_t f, std::uint32_t g, std::uint32_t& h,
                  std::uint32_t constantPlusWord) noexcept {
    const std::uint32_t t1 =
        h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) + (g ^ (e & (f ^ g))) + constantPlusWord;
    const std::uint32_t t2 = (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) | (c & (a | b)));
    d += t1;
    h = t1 + t2;
}

// Message word i of the next sixteen, kept in a ring of the last sixteen: read from the block for
// the first rounds, then w[i] becomes W[t] for t = i + 16k.
template <bool kFromBlock>
inline std::uint32_t Word(std::uint32_t* w, const std::uint8_t* block, int i) noexcept {
    if (kFromBlock)
        return w[i] = LoadBigEndian(block + 4 * i);
    const std::uint32_t w15 = w[(i + 1) & 15];
    const std::uint32_t w2 = w[(i + 14) & 15];
    w[i] += (Rotr(w2, 17) ^ Rotr(w2, 19) ^ (w2 >> 10)) + w[(i + 9) & 15] +
            (Rotr(w15, 7) ^ Rotr(w15, 18) ^ (w15 >> 3));
    return w[i];
}

// Sixteen rounds from round constants k on. After them the names are back in place, so that a
// loop of these keeps the working variables in registers.
template <bool kFromBlock>
inline void SixteenRounds(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c, std::uint32_t& d,
                          std::uint32_t& e, std::uint32_t& f, std::uint32_t& g, std::uint32_t& h,
                          const std::uint32_t* k, std::uint32_t* w,
                          const std::uint8_t* block) noexcept {
    Round(a, b, c, d, e, f, g, h, k[0] + Word<kFromBlock>(w, block, 0));
    Round(h, a, b, c, d, e, f, g, k[1] + Word<kFromBlock>(w, block, 1));
    Round(g, h, a, b, c, d, e, f, k[2] + Word<kFromBlock>(w, block, 2));
    Round(f, g, h, a, b, c, d, e, k[3] + Word<kFromBlock>(w, block, 3));
    Round(e, f, g, h, a, b, c, d, k[4] + Word<kFromBlock>(w, block, 4));
    Round(d, e, f, g, h, a, b, c, k[5] + Word<kFromBlock>(w, block, 5));
    Round(c, d, e, f, g, h, a, b, k[6] + Word<kFromBlock>(w, block, 6));
    Round(b, c, d, e, f, g, h, a, k[7] + Word<kFromBlock>(w, block, 7));
    Round(a, b, c, d, e, f, g, h, k[8] + Word<kFromBlock>(w, block, 8));
    Round(h, a, b, c, d, e, f, g, k[9] + Word<kFromBlock>(w, block, 9));
    Round(g, h, a, b, c, d, e, f, k[10] + Word<kFromBlock>(w, block, 10));
    Round(f, g, h, a, b, c, d, e, k[11] + Word<kFromBlock>(w, block, 11));
    Round(e, f, g, h, a, b, c, d, k[12] + Word<kFromBlock>(w, block, 12));
    Round(d, e, f, g, h, a, b, c, k[13] + Word<kFromBlock>(w, block, 13));
    Round(c, d, e, f, g, h, a, b, k[14] + Word<kFromBlock>(w, block, 14));
    Round(b, c, d, e, f, g, h, a, k[15] + Word<kFromBlock>(w, block, 15));
}

#if UNPACK_SHA256_X86

// Only this function and its helpers use the SHA extensions; the rest of the build keeps its
// baseline. On i686 the caller's stack may be aligned to 4 bytes only (a Win32 thread's entry),
// and spilled vectors need 16.
#define UNPACK_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))
#if defined(__i386__)
#define UNPACK_SHA_ENTRY UNPACK_SHA_TARGET __attribute__((force_align_arg_pointer))
#else
#define UNPACK_SHA_ENTRY UNPACK_SHA_TARGET
#endif
#define UNPACK_SHA_HELPER UNPACK_SHA_TARGET __attribute__((always_inline)) inline

// Vectors are named from their highest lane down, as in Intel's paper: the instructions keep the
// state as ABEF and CDGH.

// Four rounds: SHA256RNDS2 does two with the low two words of its message operand.
UNPACK_SHA_HELPER void FourRounds(__m128i& abef, __m128i& cdgh, __m128i words, int r) noexcept {
    const __m128i k = _mm_load_si128(reinterpret_cast<const __m128i*>(kRoundConstants + r));
    const __m128i wk = _mm_add_epi32(words, k);
    cdgh = _mm_sha256rnds2_epu32(cdgh, abef, wk);
    abef = _mm_sha256rnds2_epu32(abef, cdgh, _mm_shuffle_epi32(wk, 0x0E));
}

// W[t..t+3] from the four groups before it, oldest first.
UNPACK_SHA_HELPER __m128i NextWords(__m128i w16, __m128i w12, __m128i w8, __m128i w4) noexcept {
    const __m128i partial = _mm_add_epi32(_mm_sha256msg1_epu32(w16, w12), // W[t-16] + s0(W[t-15])
                                          _mm_alignr_epi8(w4, w8, 4));    // + W[t-7]
    return _mm_sha256msg2_epu32(partial, w4);                             // + s1(W[t-2])
}

// Sixteen rounds from round r on, the words of each group made from the four groups before it.
// Written out rather than looped: the i686 build has only eight vector registers, and the
// constant offsets save it one more.
UNPACK_SHA_HELPER void SixteenScheduledRounds(__m128i& abef, __m128i& cdgh, __m128i& w0,
                                              __m128i& w1, __m128i& w2, __m128i& w3,
                                              int r) noexcept {
    w0 = NextWords(w0, w1, w2, w3);
    FourRounds(abef, cdgh, w0, r);
    w1 = NextWords(w1, w2, w3, w0);
    FourRounds(abef, cdgh, w1, r + 4);
    w2 = NextWords(w2, w3, w0, w1);
    FourRounds(abef, cdgh, w2, r + 8);
    w3 = NextWords(w3, w0, w1, w2);
    FourRounds(abef, cdgh, w3, r + 12);
}

UNPACK_SHA_ENTRY void ShaNiBlocksImpl(std::uint32_t* state, const std::uint8_t* blocks,
                                      std::size_t count) noexcept {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);

    const __m128i cdab =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0xB1);
    const __m128i efgh =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state + 4)), 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);

    for (; count != 0; --count, blocks += 64) {
        const __m128i abefBefore = abef;
        const __m128i cdghBefore = cdgh;
        const __m128i* in = reinterpret_cast<const __m128i*>(blocks);
        __m128i w0 = _mm_shuffle_epi8(_mm_loadu_si128(in + 0), byteSwap);
        __m128i w1 = _mm_shuffle_epi8(_mm_loadu_si128(in + 1), byteSwap);
        __m128i w2 = _mm_shuffle_epi8(_mm_loadu_si128(in + 2), byteSwap);
        __m128i w3 = _mm_shuffle_epi8(_mm_loadu_si128(in + 3), byteSwap);
        FourRounds(abef, cdgh, w0, 0);
        FourRounds(abef, cdgh, w1, 4);
        FourRounds(abef, cdgh, w2, 8);
        FourRounds(abef, cdgh, w3, 12);
        SixteenScheduledRounds(abef, cdgh, w0, w1, w2, w3, 16);
        SixteenScheduledRounds(abef, cdgh, w0, w1, w2, w3, 32);
        SixteenScheduledRounds(abef, cdgh, w0, w1, w2, w3, 48);
        abef = _mm_add_epi32(abef, abefBefore);
        cdgh = _mm_add_epi32(cdgh, cdghBefore);
    }

    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state + 4), _mm_alignr_epi8(dchg, feba, 8));
}

bool CpuHasShaNi() noexcept {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    if (!(ecx & bit_SSSE3) || !(ecx & bit_SSE4_1))
        return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    return (ebx & bit_SHA) != 0;
}

#endif // UNPACK_SHA256_X86

sha256_detail::BlockFunction FastestBlocks() noexcept {
    // CPUID is slow in a virtual machine: ask once. Constant-initialised, so no guard (and no
    // thread library behind one) is needed; two first callers both store the same answer.
    static std::atomic<sha256_detail::BlockFunction> fastest{nullptr};
    sha256_detail::BlockFunction blocks = fastest.load(std::memory_order_relaxed);
    if (blocks == nullptr) {
        const sha256_detail::BlockFunction shaNi = sha256_detail::ShaNiBlocks();
        blocks = shaNi ? shaNi : sha256_detail::PortableBlocks;
        fastest.store(blocks, std::memory_order_relaxed);
    }
    return blocks;
}

} // namespace

namespace sha256_detail {

void PortableBlocks(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) noexcept {
    for (; count != 0; --count, blocks += 64) {
        std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
        std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
        std::uint32_t w[16];
        SixteenRounds<true>(a, b, c, d, e, f, g, h, kRoundConstants, w, blocks);
        for (int r = 16; r < 64; r += 16)
            SixteenRounds<false>(a, b, c, d, e, f, g, h, kRoundConstants + r, w, blocks);
        state[0] += a;
        state[1] += b;
        state[2] += c;
        state[3] += d;
        state[4] += e;
        state[5] += f;
        state[6] += g;
        state[7] += h;
    }
}

BlockFunction ShaNiBlocks() noexcept {
#if UNPACK_SHA256_X86
    return CpuHasShaNi() ? ShaNiBlocksImpl : nullptr;
#else
    return nullptr;
#endif
}

} // namespace sha256_detail

Sha256::Sha256() noexcept : Sha256(FastestBlocks()) {}

Sha256::Sha256(sha256_detail::BlockFunction blocks) noexcept : blocks_(blocks) {
    Reset();
}

void Sha256::Reset() noexcept {
    std::memcpy(state_, kInitialState, sizeof state_);
    length_ = 0;
    partialSize_ = 0;
}

void Sha256::Update(const void* data, std::size_t size) noexcept {
    if (size == 0)
        return;
    const auto* in = static_cast<const std::uint8_t*>(data);
    length_ += size;
    if (partialSize_ != 0) {
        const std::size_t take = size < 64 - partialSize_ ? size : 64 - partialSize_;
        std::memcpy(partial_ + partialSize_, in, take);
        partialSize_ += take;
        in += take;
        size -= take;
        if (partialSize_ < 64)
            return;
        blocks_(state_, partial_, 1);
        partialSize_ = 0;
    }
    // Whole blocks straight from the caller's buffer, in one call.
    const std::size_t whole = size / 64;
    if (whole != 0) {
        blocks_(state_, in, whole);
        in += whole * 64;
        size -= whole * 64;
    }
    if (size != 0) {
        std::memcpy(partial_, in, size);
        partialSize_ = size;
    }
}

Sha256Digest Sha256::Final() noexcept {
    // The message, one 1 bit, zeros up to 8 bytes short of a block boundary, the length in bits.
    const std::uint64_t bits = length_ * 8;
    partial_[partialSize_++] = 0x80;
    if (partialSize_ > 56) {
        std::memset(partial_ + partialSize_, 0, 64 - partialSize_);
        blocks_(state_, partial_, 1);
        partialSize_ = 0;
    }
    std::memset(partial_ + partialSize_, 0, 56 - partialSize_);
    StoreBigEndian(partial_ + 56, static_cast<std::uint32_t>(bits >> 32));
    StoreBigEndian(partial_ + 60, static_cast<std::uint32_t>(bits));
    blocks_(state_, partial_, 1);

    Sha256Digest digest;
    for (int i = 0; i < 8; ++i)
        StoreBigEndian(digest.data() + 4 * i, state_[i]);
    Reset();
    return digest;
}

Sha256Digest Sha256Of(const void* data, std::size_t size) noexcept {
    Sha256 hash;
    hash.Update(data, size);
    return hash.Final();
}

} // namespace package
