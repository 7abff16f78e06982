// The decoder keeps the range coder, the input piece and the window position in locals of one
// function, so that the stores into the window (bytes, which may alias anything) do not force them
// back to memory; only the slow path that fetches the next input piece leaves the loop.
#include "package/LzmaDecoder.h"

#include "package/LzmaModel.h"

#include <cstring>
#include <vector>

namespace package {
namespace {

using namespace lzma;

class Decoder {
public:
    Decoder(LzmaInput& input, std::uint64_t size, LzmaOutput& output)
        : input_(input), output_(output), size_(size) {}

    LzmaResult Run();

private:
    // The slow path of the byte fetch. Past the end it gives zeros (and notes the end), so that
    // a symbol cut short finishes harmlessly before the loop refuses the stream.
    LzmaBytes NextPiece() {
        static const std::uint8_t kZeros[64] = {};
        if (!ended_) {
            const LzmaBytes piece = input_.Next();
            if (piece.size != 0 && piece.data != nullptr)
                return piece;
            ended_ = true;
        }
        return LzmaBytes{kZeros, sizeof kZeros};
    }
    bool Flush(const std::uint8_t* data, std::size_t count) { return output_.Write(data, count); }

    LzmaInput& input_;
    LzmaOutput& output_;
    std::uint64_t size_;
    bool ended_ = false;
};

} // namespace
} // namespace package

// The bit coders as macros over the locals of Run(): range, code, in, inEnd.
#define LZMA_NEXT_BYTE(to)                                                                         \
    do {                                                                                           \
        if (in == inEnd) {                                                                         \
            const LzmaBytes piece_ = NextPiece();                                                  \
            in = piece_.data;                                                                      \
            inEnd = piece_.data + piece_.size;                                                     \
        }                                                                                          \
        to = *in++;                                                                                \
    } while (0)
#define LZMA_NORMALIZE()                                                                           \
    if (range < kTopValue) {                                                                       \
        unsigned byte_;                                                                            \
        LZMA_NEXT_BYTE(byte_);                                                                     \
        range <<= 8;                                                                               \
        code = (code << 8) | byte_;                                                                \
    }
// Decodes one bit with probability `p` into `bit` (0 or 1).
#define LZMA_BIT(p, bit)                                                                           \
    do {                                                                                           \
        Prob& prob_ = (p);                                                                         \
        const std::uint32_t bound_ = (range >> kProbBits) * prob_;                                 \
        if (code < bound_) {                                                                       \
            range = bound_;                                                                        \
            prob_ = static_cast<Prob>(prob_ + (((1u << kProbBits) - prob_) >> kMoveBits));         \
            bit = 0;                                                                               \
        } else {                                                                                   \
            range -= bound_;                                                                       \
            code -= bound_;                                                                        \
            prob_ = static_cast<Prob>(prob_ - (prob_ >> kMoveBits));                               \
            bit = 1;                                                                               \
        }                                                                                          \
        LZMA_NORMALIZE()                                                                           \
    } while (0)

namespace package {
namespace {

LzmaResult Decoder::Run() {
    // The properties.
    std::uint8_t header[kLzmaPropertiesSize];
    const std::uint8_t* in = nullptr;
    const std::uint8_t* inEnd = nullptr;
    for (std::uint8_t& b : header)
        LZMA_NEXT_BYTE(b);
    if (ended_ || header[0] >= 9 * 5 * 5)
        return LzmaResult::malformed;
    const unsigned lc = header[0] % 9;
    const unsigned lp = (header[0] / 9) % 5;
    const unsigned pb = header[0] / 45;
    if (lc + lp > 4)
        return LzmaResult::malformed;
    std::uint32_t dictionary =
        static_cast<std::uint32_t>(header[1]) | static_cast<std::uint32_t>(header[2]) << 8 |
        static_cast<std::uint32_t>(header[3]) << 16 | static_cast<std::uint32_t>(header[4]) << 24;
    if (dictionary > kLzmaMaxDictionary)
        return LzmaResult::malformed;
    if (dictionary < kMinDictionary)
        dictionary = kMinDictionary;

    // The range coder's first byte is always zero; the next four are the code, below the range.
    std::uint32_t range = 0xFFFFFFFFu;
    std::uint32_t code = 0;
    unsigned first;
    LZMA_NEXT_BYTE(first);
    if (first != 0)
        return LzmaResult::malformed;
    for (int i = 0; i < 4; ++i) {
        unsigned byte;
        LZMA_NEXT_BYTE(byte);
        code = (code << 8) | byte;
    }
    if (ended_ || code == range)
        return LzmaResult::malformed;

    const std::size_t windowSize =
        size_ < dictionary ? (size_ == 0 ? 1 : static_cast<std::size_t>(size_)) : dictionary;
    std::vector<std::uint8_t> windowBytes(windowSize);
    std::uint8_t* const window = windowBytes.data();
    std::vector<Prob> literalBytes(static_cast<std::size_t>(kLiteralCoderSize) << (lc + lp),
                                   static_cast<Prob>(kProbInit));
    Prob* const literals = literalBytes.data();
    Probs probs;
    {
        Prob* p = reinterpret_cast<Prob*>(&probs);
        for (std::size_t i = 0; i < sizeof(Probs) / sizeof(Prob); ++i)
            p[i] = kProbInit;
    }

    const std::uint32_t pbMask = (1u << pb) - 1;
    const std::uint32_t lpMask = (1u << lp) - 1;
    std::uint32_t state = 0;
    std::uint32_t rep0 = 0, rep1 = 0, rep2 = 0, rep3 = 0;
    std::uint64_t pos = 0; // bytes decoded
    std::size_t wpos = 0;  // in the window; bytes before it not yet written out
    unsigned prevByte = 0;
    const std::uint64_t size = size_;

    while (pos < size) {
        if (wpos == windowSize) {
            if (!Flush(window, wpos))
                return LzmaResult::writeFailed;
            wpos = 0;
        }
        const std::uint32_t posState = static_cast<std::uint32_t>(pos) & pbMask;
        unsigned bit;
        LZMA_BIT(probs.isMatch[state][posState], bit);
        if (bit == 0) {
            Prob* lit =
                literals + kLiteralCoderSize * (((static_cast<std::uint32_t>(pos) & lpMask) << lc) +
                                                (prevByte >> (8 - lc)));
            unsigned symbol = 1;
            if (state < 7) {
                do {
                    LZMA_BIT(lit[symbol], bit);
                    symbol = (symbol << 1) | bit;
                } while (symbol < 0x100);
                state = state < 4 ? 0 : state - 3;
            } else {
                // After a match: the byte at rep0 steers the coder while the bits agree.
                const std::size_t from =
                    wpos > rep0 ? wpos - rep0 - 1 : wpos + windowSize - rep0 - 1;
                unsigned matchByte = window[from];
                do {
                    const unsigned matchBit = (matchByte >> 7) & 1;
                    matchByte <<= 1;
                    LZMA_BIT(lit[((1 + matchBit) << 8) + symbol], bit);
                    symbol = (symbol << 1) | bit;
                    if (matchBit != bit)
                        break;
                } while (symbol < 0x100);
                while (symbol < 0x100) {
                    LZMA_BIT(lit[symbol], bit);
                    symbol = (symbol << 1) | bit;
                }
                state = state < 10 ? state - 3 : state - 6;
            }
            if (ended_)
                return LzmaResult::malformed;
            prevByte = symbol & 0xFF;
            window[wpos++] = static_cast<std::uint8_t>(prevByte);
            ++pos;
            continue;
        }

        std::uint32_t len;
        LZMA_BIT(probs.isRep[state], bit);
        const bool isRepeat = bit != 0;
        if (!isRepeat) {
            rep3 = rep2;
            rep2 = rep1;
            rep1 = rep0;
        } else {
            LZMA_BIT(probs.isRepG0[state], bit);
            if (bit == 0) {
                LZMA_BIT(probs.isRep0Long[state][posState], bit);
                if (bit == 0) {
                    // One byte at rep0.
                    if (ended_ || rep0 >= pos)
                        return LzmaResult::malformed;
                    state = state < 7 ? 9 : 11;
                    const std::size_t from =
                        wpos > rep0 ? wpos - rep0 - 1 : wpos + windowSize - rep0 - 1;
                    prevByte = window[from];
                    window[wpos++] = static_cast<std::uint8_t>(prevByte);
                    ++pos;
                    continue;
                }
            } else {
                std::uint32_t distance;
                LZMA_BIT(probs.isRepG1[state], bit);
                if (bit == 0) {
                    distance = rep1;
                } else {
                    LZMA_BIT(probs.isRepG2[state], bit);
                    if (bit == 0) {
                        distance = rep2;
                    } else {
                        distance = rep3;
                        rep3 = rep2;
                    }
                    rep2 = rep1;
                }
                rep1 = rep0;
                rep0 = distance;
            }
        }
        // The length, 0..271 (the match is 2 longer): choice bits, then a 3, 3 or 8 bit tree.
        LengthProbs& lengths = isRepeat ? probs.repLen : probs.matchLen;
        {
            LZMA_BIT(lengths.choice, bit);
            Prob* tree;
            unsigned bits;
            if (bit == 0) {
                tree = lengths.low[posState];
                bits = 3;
                len = 0;
            } else {
                LZMA_BIT(lengths.choice2, bit);
                if (bit == 0) {
                    tree = lengths.mid[posState];
                    bits = 3;
                    len = 8;
                } else {
                    tree = lengths.high;
                    bits = 8;
                    len = 16;
                }
            }
            std::uint32_t m = 1;
            for (unsigned i = 0; i < bits; ++i) {
                LZMA_BIT(tree[m], bit);
                m = (m << 1) | bit;
            }
            len += m - (1u << bits);
        }
        if (isRepeat) {
            state = state < 7 ? 8 : 11;
        } else {
            state = state < 7 ? 7 : 10;

            const unsigned lenState = len < kLenToPosStates - 1 ? len : kLenToPosStates - 1;
            Prob* slotTree = probs.posSlot[lenState];
            unsigned slot = 1;
            do {
                LZMA_BIT(slotTree[slot], bit);
                slot = (slot << 1) | bit;
            } while (slot < 64);
            slot -= 64;
            if (slot < 4) {
                rep0 = slot;
            } else {
                const unsigned directBits = (slot >> 1) - 1;
                std::uint32_t distance = (2 | (slot & 1)) << directBits;
                if (slot < kEndPosModelIndex) {
                    // Reverse bit tree over the special probabilities.
                    Prob* tree = probs.posSpecial + distance - slot;
                    unsigned m = 1;
                    for (unsigned i = 0; i < directBits; ++i) {
                        LZMA_BIT(tree[m], bit);
                        m = (m << 1) | bit;
                        distance |= bit << i;
                    }
                } else {
                    std::uint32_t direct = 0;
                    for (unsigned i = 0; i < directBits - kAlignBits; ++i) {
                        range >>= 1;
                        code -= range;
                        const std::uint32_t t = 0u - (code >> 31); // all ones when code went below
                        code += range & t;
                        direct = (direct << 1) + (t + 1);
                        LZMA_NORMALIZE()
                    }
                    distance += direct << kAlignBits;
                    unsigned m = 1;
                    for (unsigned i = 0; i < kAlignBits; ++i) {
                        LZMA_BIT(probs.align[m], bit);
                        m = (m << 1) | bit;
                        distance |= bit << i;
                    }
                }
                rep0 = distance;
            }
        }
        // Also refuses the end marker (distance 0xFFFFFFFF) and a repeat before any byte.
        if (ended_ || rep0 >= pos || rep0 >= dictionary)
            return LzmaResult::malformed;
        len += 2;
        if (len > size - pos)
            return LzmaResult::malformed;
        pos += len;

        const std::size_t distance = static_cast<std::size_t>(rep0) + 1;
        std::size_t from = wpos >= distance ? wpos - distance : wpos + windowSize - distance;
        std::size_t left = len;
        while (left != 0) {
            if (wpos == windowSize) {
                if (!Flush(window, wpos))
                    return LzmaResult::writeFailed;
                wpos = 0;
            }
            std::size_t run = windowSize - wpos;
            if (run > left)
                run = left;
            if (run > windowSize - from)
                run = windowSize - from;
            std::uint8_t* dst = window + wpos;
            const std::uint8_t* src = window + from;
            // A forward copy reads no byte it wrote when the source lies ahead of the
            // destination or ends before it: then it is a memmove.
            if (run >= 16 && (from > wpos || distance >= run)) {
                std::memmove(dst, src, run);
            } else {
                for (std::size_t i = 0; i < run; ++i)
                    dst[i] = src[i];
            }
            wpos += run;
            from += run;
            if (from == windowSize)
                from = 0;
            left -= run;
        }
        prevByte = window[wpos - 1];
    }

    // A correct stream's flush leaves the code at zero, with no byte after it.
    if (code != 0 || ended_ || in != inEnd)
        return LzmaResult::malformed;
    const LzmaBytes after = input_.Next();
    if (after.size != 0)
        return LzmaResult::malformed;
    if (wpos != 0 && !Flush(window, wpos))
        return LzmaResult::writeFailed;
    return LzmaResult::done;
}

} // namespace

LzmaResult DecodeLzma(LzmaInput& input, std::uint64_t originalSize, LzmaOutput& output) noexcept {
    Decoder decoder(input, originalSize, output);
    return decoder.Run();
}

} // namespace package

#undef LZMA_BIT
#undef LZMA_NORMALIZE
