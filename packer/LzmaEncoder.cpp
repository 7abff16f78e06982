// The encoder: a binary-tree match finder over a sliding window, and a parser that prices each
// choice (literal, short repeat, repeats 0..3, matches of every length the finder offers) from the
// coder's current probabilities and takes the cheapest path over a stretch of positions.
//
// Everything is integer arithmetic over bytes read in order, tables start zeroed, and the window
// holds the same bytes whatever the read size: the stream depends on nothing but the input.
#include "packer/LzmaEncoder.h"

#include "package/LzmaDecoder.h"
#include "package/LzmaModel.h"
#include "packer/PackError.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace packer {
namespace {

using package::kLzmaMaxDictionary;
using package::kLzmaPropertiesSize;
using namespace package::lzma;

// The stream's fixed choices: 3 literal context bits, no literal position bits, 2 position bits.
constexpr unsigned kLc = 3;
constexpr unsigned kLp = 0;
constexpr unsigned kPb = 2;

constexpr unsigned kPosStates = 1u << kPb;
constexpr unsigned kMatchMinLen = 2;
constexpr unsigned kMatchMaxLen = 273;
constexpr unsigned kLenSymbols = kMatchMaxLen - kMatchMinLen + 1;

// The search: a match this long is taken at once; the tree is walked this deep at each position.
constexpr unsigned kNiceLen = 128;
constexpr unsigned kSearchDepth = 48;
// The parser's stretch, and the bytes it may look at beyond its start.
constexpr unsigned kOptLimit = 1u << 12;
constexpr std::size_t kLookAhead = kOptLimit + 2 * kMatchMaxLen + 16;
constexpr std::size_t kDefaultReadBlock = 1u << 20;
constexpr std::size_t kOutputChunk = 1u << 16;

// The coder's model, with the literal coders for the encoder's lc and lp.
struct Model : Probs {
    Prob literals[kLiteralCoderSize << (kLc + kLp)];
};

// Prices are in sixteenths of a bit: kBitPrices[p >> 4] is -log2(p / 2048) for a bit whose
// probability is p / 2048, computed with integers only so that every host agrees.
constexpr unsigned kPriceShift = 4;
struct BitPriceTable {
    std::uint32_t price[kProbTotal >> kPriceShift];
    BitPriceTable() : price{} {
        for (unsigned i = 0; i < (kProbTotal >> kPriceShift); ++i) {
            // 16 * log2(w), w the middle of the bucket: exponent, then four fraction bits by
            // squaring the mantissa.
            const std::uint32_t w = (i << kPriceShift) + (1u << (kPriceShift - 1));
            unsigned exponent = 0;
            while ((w >> exponent) >= 2)
                ++exponent;
            std::uint64_t x = static_cast<std::uint64_t>(w) << (15 - exponent); // 1.0 = 2^15
            unsigned fraction = 0;
            for (int bit = 0; bit < 4; ++bit) {
                x = (x * x) >> 15;
                fraction <<= 1;
                if (x >= (1u << 16)) {
                    x >>= 1;
                    fraction |= 1;
                }
            }
            price[i] = kProbBits * 16 - (exponent * 16 + fraction);
        }
    }
};
const BitPriceTable kBitPrices;

inline std::uint32_t BitPrice(Prob p, unsigned bit) {
    return kBitPrices.price[(bit ? kProbTotal - p : p) >> kPriceShift];
}
inline std::uint32_t TreePrice(const Prob* tree, unsigned bits, std::uint32_t symbol) {
    std::uint32_t price = 0;
    std::uint32_t m = 1;
    for (unsigned i = bits; i-- > 0;) {
        const unsigned bit = (symbol >> i) & 1;
        price += BitPrice(tree[m], bit);
        m = (m << 1) | bit;
    }
    return price;
}
inline std::uint32_t ReverseTreePrice(const Prob* tree, unsigned bits, std::uint32_t symbol) {
    std::uint32_t price = 0;
    std::uint32_t m = 1;
    for (unsigned i = 0; i < bits; ++i) {
        const unsigned bit = (symbol >> i) & 1;
        price += BitPrice(tree[m], bit);
        m = (m << 1) | bit;
    }
    return price;
}

inline unsigned DistanceSlot(std::uint32_t distance) {
    if (distance < 4)
        return distance;
#if defined(__GNUC__)
    const unsigned top = 31 - static_cast<unsigned>(__builtin_clz(distance));
#else
    unsigned top = 31;
    while ((distance >> top) == 0)
        --top;
#endif
    return (top << 1) | ((distance >> (top - 1)) & 1);
}

inline unsigned LenToPosState(unsigned len) { // len as coded, 0-based
    return len < kLenToPosStates - 1 ? len : kLenToPosStates - 1;
}

inline unsigned NextStateLiteral(unsigned s) {
    return s < 4 ? 0 : (s < 10 ? s - 3 : s - 6);
}
inline unsigned NextStateMatch(unsigned s) {
    return s < 7 ? 7 : 10;
}
inline unsigned NextStateRep(unsigned s) {
    return s < 7 ? 8 : 11;
}
inline unsigned NextStateShortRep(unsigned s) {
    return s < 7 ? 9 : 11;
}

inline std::uint32_t Read32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// How far the bytes at `a` and `b` agree, from `len` up to `limit`. Eight at a time where the byte
// order lets the first difference be found from the low end; the answer is the same either way.
inline std::uint32_t Extend(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t len,
                            std::uint32_t limit) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    while (len + 8 <= limit) {
        std::uint64_t x, y;
        std::memcpy(&x, a + len, 8);
        std::memcpy(&y, b + len, 8);
        if (x != y)
            return len + static_cast<std::uint32_t>(__builtin_ctzll(x ^ y) >> 3);
        len += 8;
    }
#endif
    while (len < limit && a[len] == b[len])
        ++len;
    return len;
}

// The range coder's output side, buffered towards the sink.
class RangeEncoder {
public:
    explicit RangeEncoder(LzmaSink& sink) : sink_(sink) { buffer_.reserve(kOutputChunk); }

    void Bit(Prob& p, unsigned bit) {
        const std::uint32_t bound = (range_ >> kProbBits) * p;
        if (bit == 0) {
            range_ = bound;
            p = static_cast<Prob>(p + ((kProbTotal - p) >> kMoveBits));
        } else {
            low_ += bound;
            range_ -= bound;
            p = static_cast<Prob>(p - (p >> kMoveBits));
        }
        while (range_ < kTopValue) {
            range_ <<= 8;
            ShiftLow();
        }
    }
    void Direct(std::uint32_t value, unsigned count) {
        while (count-- > 0) {
            range_ >>= 1;
            low_ += range_ & (0u - ((value >> count) & 1));
            while (range_ < kTopValue) {
                range_ <<= 8;
                ShiftLow();
            }
        }
    }
    void Tree(Prob* tree, unsigned bits, std::uint32_t symbol) {
        std::uint32_t m = 1;
        for (unsigned i = bits; i-- > 0;) {
            const unsigned bit = (symbol >> i) & 1;
            Bit(tree[m], bit);
            m = (m << 1) | bit;
        }
    }
    void ReverseTree(Prob* tree, unsigned bits, std::uint32_t symbol) {
        std::uint32_t m = 1;
        for (unsigned i = 0; i < bits; ++i) {
            const unsigned bit = (symbol >> i) & 1;
            Bit(tree[m], bit);
            m = (m << 1) | bit;
        }
    }
    // The last bytes of `low`: the decoder's code ends at zero.
    void Finish() {
        for (int i = 0; i < 5; ++i)
            ShiftLow();
        Drain();
    }
    void Raw(const std::uint8_t* data, std::size_t size) {
        buffer_.insert(buffer_.end(), data, data + size);
    }
    // False once the sink has refused some bytes.
    bool Drain() {
        if (!stopped_ && !buffer_.empty() && !sink_.Write(buffer_.data(), buffer_.size()))
            stopped_ = true;
        buffer_.clear();
        return !stopped_;
    }
    bool Stopped() const { return stopped_; }

private:
    void ShiftLow() {
        // A byte is held back while a carry could still reach it (0xFF bytes wait with it).
        if (static_cast<std::uint32_t>(low_) < 0xFF000000u || (low_ >> 32) != 0) {
            const std::uint8_t carry = static_cast<std::uint8_t>(low_ >> 32);
            std::uint8_t held = cache_;
            do {
                Put(static_cast<std::uint8_t>(held + carry));
                held = 0xFF;
            } while (--cacheSize_ != 0);
            cache_ = static_cast<std::uint8_t>(low_ >> 24);
        }
        ++cacheSize_;
        low_ = (low_ & 0x00FFFFFFu) << 8;
    }
    void Put(std::uint8_t byte) {
        buffer_.push_back(byte);
        if (buffer_.size() >= kOutputChunk)
            Drain();
    }

    LzmaSink& sink_;
    std::vector<std::uint8_t> buffer_;
    std::uint64_t low_ = 0;
    std::uint32_t range_ = 0xFFFFFFFFu;
    std::uint8_t cache_ = 0;
    std::uint64_t cacheSize_ = 1;
    bool stopped_ = false;
};

struct Match {
    std::uint32_t len;
    std::uint32_t distance; // as coded: the bytes back, less one
};

// A sliding window over the input with a binary tree of the positions in the dictionary, sorted
// by the bytes that follow them, and hashes of their first 2, 3 and 4 bytes.
class MatchFinder {
public:
    MatchFinder(package::ByteSource& input, std::uint64_t offset, std::uint64_t size,
                std::uint32_t dictionary, std::size_t readBlock)
        : input_(input), offset_(offset), size_(size), readBlock_(readBlock),
          cyclicSize_(dictionary), son_(2 * static_cast<std::size_t>(dictionary)), hash2_(1u << 16),
          hash3_(1u << 16) {
        unsigned bits = 12;
        while (bits < 22 && (1u << bits) < dictionary)
            ++bits;
        hash4Bits_ = bits;
        hash4_.assign(std::size_t{1} << bits, 0);
        const std::uint64_t most =
            static_cast<std::uint64_t>(dictionary) + 1 + kDefaultReadBlock + kLookAhead;
        window_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(most, size)));
        // Table entries are positions plus this; zero (empty) is then always out of reach.
        tablePos_ = cyclicSize_;
    }

    std::uint64_t Position() const { return pos_; }
    const std::uint8_t* At(std::uint64_t position) const {
        return window_.data() + static_cast<std::size_t>(position - start_);
    }
    // Bytes available from `position` on, as far as the stream goes.
    std::uint64_t Available(std::uint64_t position) const { return filled_ - position; }

    // Makes sure the bytes from `from` - dictionary - 1 to `from` + kLookAhead are in the window.
    void Prepare(std::uint64_t from) {
        if (filled_ - from >= kLookAhead || filled_ == size_)
            return;
        const std::uint64_t keep = from > cyclicSize_ + 1u ? from - cyclicSize_ - 1 : 0;
        if (keep > start_) {
            const std::size_t drop = static_cast<std::size_t>(keep - start_);
            std::memmove(window_.data(), window_.data() + drop,
                         static_cast<std::size_t>(filled_ - keep));
            start_ = keep;
        }
        while (filled_ < size_) {
            const std::size_t used = static_cast<std::size_t>(filled_ - start_);
            const std::size_t room = window_.size() - used;
            if (room == 0)
                break;
            std::size_t want = std::min(room, readBlock_);
            if (want > size_ - filled_)
                want = static_cast<std::size_t>(size_ - filled_);
            if (input_.ReadAt(offset_ + filled_, window_.data() + used, want) != want)
                throw PackError("the bytes to compress could not be read");
            filled_ += want;
        }
    }

    // The matches at the current position, longer and longer, then moves on; the count.
    unsigned Find(Match* out) { return Walk(out, true); }
    void Skip() { Walk(nullptr, false); }

private:
    unsigned Walk(Match* out, bool search) {
        const std::uint64_t avail = filled_ - pos_;
        const std::uint32_t limit =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(avail, kMatchMaxLen));
        if (limit < 4) {
            Advance();
            return 0;
        }
        const std::uint8_t* cur = At(pos_);
        const std::uint32_t here = tablePos_;
        const std::uint32_t h2 = cur[0] | static_cast<std::uint32_t>(cur[1]) << 8;
        const std::uint32_t h3 =
            ((h2 | static_cast<std::uint32_t>(cur[2]) << 16) * 2654435761u) >> 16;
        const std::uint32_t h4 = (Read32(cur) * 2654435761u) >> (32 - hash4Bits_);
        const std::uint32_t delta2 = here - hash2_[h2];
        const std::uint32_t delta3 = here - hash3_[h3];
        std::uint32_t candidate = hash4_[h4];
        hash2_[h2] = here;
        hash3_[h3] = here;
        hash4_[h4] = here;

        unsigned count = 0;
        std::uint32_t best = 1;
        if (search) {
            if (delta2 < cyclicSize_) {
                const std::uint8_t* p = cur - delta2;
                if (p[0] == cur[0] && p[1] == cur[1]) {
                    const std::uint32_t len = Extend(p, cur, 2, limit);
                    best = len;
                    out[count++] = Match{len, delta2 - 1};
                }
            }
            if (delta3 != delta2 && delta3 < cyclicSize_) {
                const std::uint32_t len = Extend(cur - delta3, cur, 0, limit);
                if (len >= 3 && len > best) {
                    best = len;
                    out[count++] = Match{len, delta3 - 1};
                }
            }
        }

        // Insert this position at the root, splitting the old tree into the smaller and the
        // larger side as the walk goes down.
        const std::size_t cyclicPos = cyclicPos_;
        std::uint32_t* smaller = &son_[2 * cyclicPos];
        std::uint32_t* larger = &son_[2 * cyclicPos + 1];
        std::uint32_t lenSmaller = 0, lenLarger = 0;
        for (unsigned depth = kSearchDepth;; --depth) {
            const std::uint32_t delta = here - candidate;
            if (depth == 0 || delta >= cyclicSize_) {
                *smaller = 0;
                *larger = 0;
                break;
            }
            std::uint32_t* pair = &son_[2 * (cyclicPos >= delta ? cyclicPos - delta
                                                                : cyclicPos + cyclicSize_ - delta)];
            const std::uint8_t* p = cur - delta;
            std::uint32_t len = std::min(lenSmaller, lenLarger);
            if (p[len] == cur[len]) {
                len = Extend(p, cur, len + 1, limit);
                if (search && len > best) {
                    best = len;
                    out[count++] = Match{len, delta - 1};
                }
                if (len == limit) {
                    // Equal as far as we look: the old node's subtrees become ours.
                    *smaller = pair[0];
                    *larger = pair[1];
                    break;
                }
            }
            if (p[len] < cur[len]) {
                *smaller = candidate;
                smaller = pair + 1;
                candidate = *smaller;
                lenSmaller = len;
            } else {
                *larger = candidate;
                larger = pair;
                candidate = *larger;
                lenLarger = len;
            }
        }
        Advance();
        return count;
    }

    void Advance() {
        ++pos_;
        if (++cyclicPos_ == cyclicSize_)
            cyclicPos_ = 0;
        if (++tablePos_ == 0xFFFFFFFFu)
            Rebase();
    }

    // Table positions are 32 bits: before they run out, move them all down, leaving entries out
    // of the dictionary's reach at zero.
    void Rebase() {
        const std::uint32_t by = tablePos_ - cyclicSize_;
        auto down = [by](std::vector<std::uint32_t>& table) {
            for (std::uint32_t& entry : table)
                entry = entry > by ? entry - by : 0;
        };
        down(son_);
        down(hash2_);
        down(hash3_);
        down(hash4_);
        tablePos_ -= by;
    }

    package::ByteSource& input_;
    std::uint64_t offset_;
    std::uint64_t size_;
    std::size_t readBlock_;
    std::uint32_t cyclicSize_;
    std::vector<std::uint32_t> son_;
    std::vector<std::uint32_t> hash2_;
    std::vector<std::uint32_t> hash3_;
    std::vector<std::uint32_t> hash4_;
    unsigned hash4Bits_ = 12;
    std::vector<std::uint8_t> window_;
    std::uint64_t start_ = 0;  // the input position of window_[0]
    std::uint64_t filled_ = 0; // the input position after the last byte read
    std::uint64_t pos_ = 0;    // the next position to find matches for
    std::size_t cyclicPos_ = 0;
    std::uint32_t tablePos_ = 0;
};

// What the parser chose for a stretch of input.
constexpr std::uint32_t kLiteral = 0xFFFFFFFFu;
struct Step {
    std::uint32_t len;
    std::uint32_t back; // kLiteral; 0..3 a repeat (length 1: the short repeat); 4 + a distance
};

struct Node {
    std::uint32_t price;
    std::uint32_t prev; // the node this step starts from
    std::uint32_t back;
    std::uint32_t state;
    std::uint32_t reps[4];
};
constexpr std::uint32_t kInfinity = 0xFFFFFFFFu >> 1;

class Encoder {
public:
    Encoder(package::ByteSource& input, std::uint64_t offset, std::uint64_t size,
            std::uint32_t dictionary, std::size_t readBlock, LzmaSink& sink)
        : size_(size), dictionary_(dictionary), finder_(input, offset, size, dictionary, readBlock),
          rc_(sink), nodes_(kOptLimit + kMatchMaxLen + 2) {
        Prob* p = reinterpret_cast<Prob*>(&probs_);
        for (std::size_t i = 0; i < sizeof(Model) / sizeof(Prob); ++i)
            p[i] = kProbTotal / 2;
    }

    bool Run(const std::uint8_t* properties) {
        rc_.Raw(properties, kLzmaPropertiesSize);
        std::vector<Step> steps;
        while (pos_ < size_) {
            finder_.Prepare(pos_);
            RefreshPrices();
            Parse(steps);
            for (const Step& step : steps)
                EncodeStep(step);
            if (rc_.Stopped())
                return false;
        }
        rc_.Finish();
        return !rc_.Stopped();
    }

private:
    // ---- Prices ----
    void RefreshPrices() {
        if (lengthsSinceRefresh_ >= 64 || !pricesReady_) {
            LengthPrices(probs_.matchLen, matchLenPrices_);
            LengthPrices(probs_.repLen, repLenPrices_);
            lengthsSinceRefresh_ = 0;
        }
        if (distancesSinceRefresh_ >= 64 || !pricesReady_) {
            DistancePrices();
            distancesSinceRefresh_ = 0;
        }
        if (alignsSinceRefresh_ >= 16 || !pricesReady_) {
            for (std::uint32_t i = 0; i < kAlignSize; ++i)
                alignPrices_[i] = ReverseTreePrice(probs_.align, kAlignBits, i);
            alignsSinceRefresh_ = 0;
        }
        pricesReady_ = true;
    }

    static void LengthPrices(const LengthProbs& coder,
                             std::uint32_t (&prices)[kPosStates][kLenSymbols]) {
        const std::uint32_t low = BitPrice(coder.choice, 0);
        const std::uint32_t mid = BitPrice(coder.choice, 1) + BitPrice(coder.choice2, 0);
        const std::uint32_t high = BitPrice(coder.choice, 1) + BitPrice(coder.choice2, 1);
        std::uint32_t highPrices[256];
        for (std::uint32_t i = 0; i < 256; ++i)
            highPrices[i] = high + TreePrice(coder.high, 8, i);
        for (unsigned posState = 0; posState < kPosStates; ++posState) {
            for (std::uint32_t i = 0; i < 8; ++i) {
                prices[posState][i] = low + TreePrice(coder.low[posState], 3, i);
                prices[posState][8 + i] = mid + TreePrice(coder.mid[posState], 3, i);
            }
            for (std::uint32_t i = 16; i < kLenSymbols; ++i)
                prices[posState][i] = highPrices[i - 16];
        }
    }

    void DistancePrices() {
        const unsigned slots = DistanceSlot(dictionary_ - 1) + 1;
        for (unsigned lenState = 0; lenState < kLenToPosStates; ++lenState) {
            for (unsigned slot = 0; slot < slots; ++slot) {
                std::uint32_t price = TreePrice(probs_.posSlot[lenState], 6, slot);
                if (slot >= kEndPosModelIndex)
                    price += (((slot >> 1) - 1) - kAlignBits) << kPriceShift;
                slotPrices_[lenState][slot] = price;
            }
            for (std::uint32_t distance = 0; distance < kFullDistances; ++distance) {
                const unsigned slot = DistanceSlot(distance);
                std::uint32_t price = slotPrices_[lenState][slot];
                if (slot >= 4) {
                    const unsigned bits = (slot >> 1) - 1;
                    const std::uint32_t base = (2 | (slot & 1)) << bits;
                    price +=
                        ReverseTreePrice(probs_.posSpecial + base - slot, bits, distance - base);
                }
                fullDistancePrices_[lenState][distance] = price;
            }
        }
    }

    // The price of `distance` after each length class.
    void DistancePrices(std::uint32_t distance, std::uint32_t (&prices)[kLenToPosStates]) const {
        if (distance < kFullDistances) {
            for (unsigned lenState = 0; lenState < kLenToPosStates; ++lenState)
                prices[lenState] = fullDistancePrices_[lenState][distance];
            return;
        }
        const unsigned slot = DistanceSlot(distance);
        const std::uint32_t align = alignPrices_[distance & (kAlignSize - 1)];
        for (unsigned lenState = 0; lenState < kLenToPosStates; ++lenState)
            prices[lenState] = slotPrices_[lenState][slot] + align;
    }

    const Prob* LiteralProbs(std::uint64_t position, unsigned prevByte) const {
        const std::uint32_t context =
            ((static_cast<std::uint32_t>(position) & ((1u << kLp) - 1)) << kLc) +
            (prevByte >> (8 - kLc));
        return probs_.literals + kLiteralCoderSize * context;
    }

    std::uint32_t LiteralPrice(std::uint64_t position, unsigned state, unsigned symbol,
                               unsigned matchByte) const {
        const Prob* probs = LiteralProbs(position, position == 0 ? 0 : *finder_.At(position - 1));
        if (state < 7)
            return TreePrice(probs, 8, symbol);
        std::uint32_t price = 0;
        std::uint32_t m = 1;
        bool same = true;
        for (unsigned i = 8; i-- > 0;) {
            const unsigned bit = (symbol >> i) & 1;
            if (same) {
                const unsigned matchBit = (matchByte >> i) & 1;
                price += BitPrice(probs[((1 + matchBit) << 8) + m], bit);
                same = matchBit == bit;
            } else {
                price += BitPrice(probs[m], bit);
            }
            m = (m << 1) | bit;
        }
        return price;
    }

    std::uint32_t ShortRepPrice(unsigned state, unsigned posState) const {
        return BitPrice(probs_.isRepG0[state], 0) + BitPrice(probs_.isRep0Long[state][posState], 0);
    }
    std::uint32_t RepPrice(unsigned index, unsigned state, unsigned posState) const {
        if (index == 0)
            return BitPrice(probs_.isRepG0[state], 0) +
                   BitPrice(probs_.isRep0Long[state][posState], 1);
        std::uint32_t price = BitPrice(probs_.isRepG0[state], 1);
        if (index == 1)
            return price + BitPrice(probs_.isRepG1[state], 0);
        return price + BitPrice(probs_.isRepG1[state], 1) +
               BitPrice(probs_.isRepG2[state], index - 2);
    }

    // ---- Parsing ----
    unsigned ReadMatches(Match* out) {
        if (pendingCount_ >= 0) {
            const unsigned count = static_cast<unsigned>(pendingCount_);
            std::copy(pending_, pending_ + count, out);
            pendingCount_ = -1;
            return count;
        }
        return finder_.Find(out);
    }

    // Length of the match at `position` with the coded distance `rep`, up to `limit`.
    std::uint32_t RepLength(std::uint64_t position, std::uint32_t rep, std::uint32_t limit) const {
        if (static_cast<std::uint64_t>(rep) >= position)
            return 0;
        const std::uint8_t* cur = finder_.At(position);
        const std::uint8_t* p = cur - rep - 1;
        if (p[0] != cur[0] || p[1] != cur[1])
            return 0;
        return Extend(p, cur, 2, limit);
    }

    void SkipPositions(std::uint32_t count) {
        for (std::uint32_t i = 0; i < count; ++i)
            finder_.Skip();
    }

    void Parse(std::vector<Step>& steps) {
        steps.clear();
        Match matches[kMatchMaxLen + 4];
        unsigned count = ReadMatches(matches);
        const std::uint64_t pos = pos_;
        const std::uint32_t avail =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(size_ - pos, kMatchMaxLen));
        if (avail < kMatchMinLen) {
            steps.push_back(Step{1, kLiteral});
            return;
        }
        std::uint32_t repLens[4];
        unsigned bestRep = 0;
        for (unsigned i = 0; i < 4; ++i) {
            repLens[i] = RepLength(pos, reps_[i], avail);
            if (repLens[i] > repLens[bestRep])
                bestRep = i;
        }
        if (repLens[bestRep] >= kNiceLen) {
            steps.push_back(Step{repLens[bestRep], bestRep});
            SkipPositions(repLens[bestRep] - 1);
            return;
        }
        const std::uint32_t mainLen = count > 0 ? matches[count - 1].len : 0;
        if (mainLen >= kNiceLen) {
            steps.push_back(Step{mainLen, matches[count - 1].distance + 4});
            SkipPositions(mainLen - 1);
            return;
        }
        const std::uint8_t* cur = finder_.At(pos);
        const unsigned curByte = cur[0];
        const unsigned matchByte = pos > reps_[0] ? *(cur - reps_[0] - 1) : 0;
        if (mainLen < 2 && repLens[bestRep] < 2) {
            // A literal, unless the byte at rep0 is the same.
            if (curByte != matchByte || pos == 0) {
                steps.push_back(Step{1, kLiteral});
                return;
            }
        }

        Node* const nodes = nodes_.data();
        const unsigned posState0 = static_cast<unsigned>(pos) & (kPosStates - 1);
        nodes[0].state = state_;
        std::copy(reps_, reps_ + 4, nodes[0].reps);
        nodes[0].price = 0;

        nodes[1].price = BitPrice(probs_.isMatch[state_][posState0], 0) +
                         LiteralPrice(pos, state_, curByte, matchByte);
        nodes[1].prev = 0;
        nodes[1].back = kLiteral;
        const std::uint32_t matchPrice = BitPrice(probs_.isMatch[state_][posState0], 1);
        const std::uint32_t repMatchPrice = matchPrice + BitPrice(probs_.isRep[state_], 1);
        if (pos > reps_[0] && matchByte == curByte) {
            const std::uint32_t price = repMatchPrice + ShortRepPrice(state_, posState0);
            if (price < nodes[1].price) {
                nodes[1].price = price;
                nodes[1].back = 0;
            }
        }
        std::uint32_t lenEnd = std::max(mainLen, repLens[bestRep]);
        if (lenEnd < 2) {
            steps.push_back(Step{1, nodes[1].back});
            return;
        }
        for (std::uint32_t i = 2; i <= lenEnd; ++i)
            nodes[i].price = kInfinity;

        for (unsigned i = 0; i < 4; ++i) {
            if (repLens[i] < 2)
                continue;
            const std::uint32_t price = repMatchPrice + RepPrice(i, state_, posState0);
            for (std::uint32_t len = repLens[i]; len >= 2; --len) {
                const std::uint32_t total = price + repLenPrices_[posState0][len - kMatchMinLen];
                if (total < nodes[len].price) {
                    nodes[len].price = total;
                    nodes[len].prev = 0;
                    nodes[len].back = i;
                }
            }
        }
        const std::uint32_t normalMatchPrice = matchPrice + BitPrice(probs_.isRep[state_], 0);
        {
            std::uint32_t len = repLens[0] >= 2 ? repLens[0] + 1 : 2;
            if (len <= mainLen) {
                unsigned m = 0;
                while (len > matches[m].len)
                    ++m;
                std::uint32_t distancePrices[kLenToPosStates];
                DistancePrices(matches[m].distance, distancePrices);
                for (;; ++len) {
                    const std::uint32_t distance = matches[m].distance;
                    const std::uint32_t total = normalMatchPrice +
                                                matchLenPrices_[posState0][len - kMatchMinLen] +
                                                distancePrices[LenToPosState(len - kMatchMinLen)];
                    if (total < nodes[len].price) {
                        nodes[len].price = total;
                        nodes[len].prev = 0;
                        nodes[len].back = distance + 4;
                    }
                    if (len == matches[m].len) {
                        if (++m == count)
                            break;
                        DistancePrices(matches[m].distance, distancePrices);
                    }
                }
            }
        }

        std::uint32_t at = 0;
        for (;;) {
            ++at;
            if (at == lenEnd || at >= kOptLimit)
                break;
            count = finder_.Find(matches);
            const std::uint32_t newLen = count > 0 ? matches[count - 1].len : 0;
            if (newLen >= kNiceLen) {
                std::copy(matches, matches + count, pending_);
                pendingCount_ = static_cast<int>(count);
                break;
            }
            Node& node = nodes[at];
            {
                const Node& from = nodes[node.prev];
                const std::uint32_t stepLen = at - node.prev;
                std::copy(from.reps, from.reps + 4, node.reps);
                if (node.back == kLiteral) {
                    node.state = NextStateLiteral(from.state);
                } else if (node.back < 4) {
                    node.state =
                        stepLen == 1 ? NextStateShortRep(from.state) : NextStateRep(from.state);
                    const std::uint32_t rep = from.reps[node.back];
                    for (unsigned k = node.back; k > 0; --k)
                        node.reps[k] = from.reps[k - 1];
                    node.reps[0] = rep;
                } else {
                    node.state = NextStateMatch(from.state);
                    node.reps[3] = from.reps[2];
                    node.reps[2] = from.reps[1];
                    node.reps[1] = from.reps[0];
                    node.reps[0] = node.back - 4;
                }
            }
            const unsigned state = node.state;
            const std::uint64_t here = pos + at;
            const std::uint32_t curPrice = node.price;
            const std::uint8_t* data = finder_.At(here);
            const unsigned byte = data[0];
            const unsigned repByte = *(data - node.reps[0] - 1);
            const unsigned posState = static_cast<unsigned>(here) & (kPosStates - 1);

            const std::uint32_t literalTotal = curPrice +
                                               BitPrice(probs_.isMatch[state][posState], 0) +
                                               LiteralPrice(here, state, byte, repByte);
            Node& next = nodes[at + 1];
            if (literalTotal < next.price) {
                next.price = literalTotal;
                next.prev = at;
                next.back = kLiteral;
            }
            const std::uint32_t matchTotal =
                curPrice + BitPrice(probs_.isMatch[state][posState], 1);
            const std::uint32_t repTotal = matchTotal + BitPrice(probs_.isRep[state], 1);
            if (repByte == byte) {
                const std::uint32_t total = repTotal + ShortRepPrice(state, posState);
                if (total < next.price) {
                    next.price = total;
                    next.prev = at;
                    next.back = 0;
                }
            }
            const std::uint32_t left =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(size_ - here, kMatchMaxLen));
            if (left < 2)
                continue;

            std::uint32_t startLen = 2;
            for (unsigned i = 0; i < 4; ++i) {
                const std::uint32_t len = RepLength(here, node.reps[i], left);
                if (len < 2)
                    continue;
                while (lenEnd < at + len)
                    nodes[++lenEnd].price = kInfinity;
                const std::uint32_t price = repTotal + RepPrice(i, state, posState);
                for (std::uint32_t l = len; l >= 2; --l) {
                    const std::uint32_t total = price + repLenPrices_[posState][l - kMatchMinLen];
                    Node& target = nodes[at + l];
                    if (total < target.price) {
                        target.price = total;
                        target.prev = at;
                        target.back = i;
                    }
                }
                if (i == 0)
                    startLen = len + 1;
            }
            if (newLen >= startLen) {
                const std::uint32_t normalTotal = matchTotal + BitPrice(probs_.isRep[state], 0);
                while (lenEnd < at + newLen)
                    nodes[++lenEnd].price = kInfinity;
                unsigned m = 0;
                while (startLen > matches[m].len)
                    ++m;
                std::uint32_t distancePrices[kLenToPosStates];
                DistancePrices(matches[m].distance, distancePrices);
                for (std::uint32_t len = startLen;; ++len) {
                    const std::uint32_t total = normalTotal +
                                                matchLenPrices_[posState][len - kMatchMinLen] +
                                                distancePrices[LenToPosState(len - kMatchMinLen)];
                    Node& target = nodes[at + len];
                    if (total < target.price) {
                        target.price = total;
                        target.prev = at;
                        target.back = matches[m].distance + 4;
                    }
                    if (len == matches[m].len) {
                        if (++m == count)
                            break;
                        DistancePrices(matches[m].distance, distancePrices);
                    }
                }
            }
        }

        // The cheapest path to `at`, from its end back to the start.
        std::uint32_t i = at;
        while (i != 0) {
            const Node& node = nodes[i];
            steps.push_back(Step{i - node.prev, node.back});
            i = node.prev;
        }
        std::reverse(steps.begin(), steps.end());
    }

    // ---- Coding ----
    void EncodeLength(LengthProbs& coder, std::uint32_t len, unsigned posState) {
        if (len < 8) {
            rc_.Bit(coder.choice, 0);
            rc_.Tree(coder.low[posState], 3, len);
        } else if (len < 16) {
            rc_.Bit(coder.choice, 1);
            rc_.Bit(coder.choice2, 0);
            rc_.Tree(coder.mid[posState], 3, len - 8);
        } else {
            rc_.Bit(coder.choice, 1);
            rc_.Bit(coder.choice2, 1);
            rc_.Tree(coder.high, 8, len - 16);
        }
        ++lengthsSinceRefresh_;
    }

    void EncodeStep(const Step& step) {
        const unsigned posState = static_cast<unsigned>(pos_) & (kPosStates - 1);
        const std::uint8_t* data = finder_.At(pos_);
        if (step.back == kLiteral) {
            rc_.Bit(probs_.isMatch[state_][posState], 0);
            Prob* probs = const_cast<Prob*>(LiteralProbs(pos_, pos_ == 0 ? 0 : data[-1]));
            const unsigned symbol = data[0];
            if (state_ < 7) {
                rc_.Tree(probs, 8, symbol);
            } else {
                const unsigned matchByte = *(data - reps_[0] - 1);
                std::uint32_t m = 1;
                bool same = true;
                for (unsigned i = 8; i-- > 0;) {
                    const unsigned bit = (symbol >> i) & 1;
                    if (same) {
                        const unsigned matchBit = (matchByte >> i) & 1;
                        rc_.Bit(probs[((1 + matchBit) << 8) + m], bit);
                        same = matchBit == bit;
                    } else {
                        rc_.Bit(probs[m], bit);
                    }
                    m = (m << 1) | bit;
                }
            }
            state_ = NextStateLiteral(state_);
            pos_ += 1;
            return;
        }
        rc_.Bit(probs_.isMatch[state_][posState], 1);
        if (step.back < 4) {
            rc_.Bit(probs_.isRep[state_], 1);
            const unsigned index = step.back;
            if (index == 0) {
                rc_.Bit(probs_.isRepG0[state_], 0);
                rc_.Bit(probs_.isRep0Long[state_][posState], step.len == 1 ? 0 : 1);
            } else {
                rc_.Bit(probs_.isRepG0[state_], 1);
                if (index == 1) {
                    rc_.Bit(probs_.isRepG1[state_], 0);
                } else {
                    rc_.Bit(probs_.isRepG1[state_], 1);
                    rc_.Bit(probs_.isRepG2[state_], index - 2);
                }
                const std::uint32_t rep = reps_[index];
                for (unsigned k = index; k > 0; --k)
                    reps_[k] = reps_[k - 1];
                reps_[0] = rep;
            }
            if (step.len == 1) {
                state_ = NextStateShortRep(state_);
            } else {
                EncodeLength(probs_.repLen, step.len - kMatchMinLen, posState);
                state_ = NextStateRep(state_);
            }
            pos_ += step.len;
            return;
        }
        const std::uint32_t distance = step.back - 4;
        rc_.Bit(probs_.isRep[state_], 0);
        EncodeLength(probs_.matchLen, step.len - kMatchMinLen, posState);
        const unsigned slot = DistanceSlot(distance);
        rc_.Tree(probs_.posSlot[LenToPosState(step.len - kMatchMinLen)], 6, slot);
        if (slot >= 4) {
            const unsigned bits = (slot >> 1) - 1;
            const std::uint32_t base = (2 | (slot & 1)) << bits;
            const std::uint32_t reduced = distance - base;
            if (slot < kEndPosModelIndex) {
                rc_.ReverseTree(probs_.posSpecial + base - slot, bits, reduced);
            } else {
                rc_.Direct(reduced >> kAlignBits, bits - kAlignBits);
                rc_.ReverseTree(probs_.align, kAlignBits, reduced & (kAlignSize - 1));
                ++alignsSinceRefresh_;
            }
        }
        ++distancesSinceRefresh_;
        reps_[3] = reps_[2];
        reps_[2] = reps_[1];
        reps_[1] = reps_[0];
        reps_[0] = distance;
        state_ = NextStateMatch(state_);
        pos_ += step.len;
    }

    std::uint64_t size_;
    std::uint32_t dictionary_;
    MatchFinder finder_;
    RangeEncoder rc_;
    Model probs_;
    std::vector<Node> nodes_;
    std::uint64_t pos_ = 0;
    unsigned state_ = 0;
    std::uint32_t reps_[4] = {0, 0, 0, 0};
    Match pending_[kMatchMaxLen + 4];
    int pendingCount_ = -1;

    bool pricesReady_ = false;
    unsigned lengthsSinceRefresh_ = 0;
    unsigned distancesSinceRefresh_ = 0;
    unsigned alignsSinceRefresh_ = 0;
    std::uint32_t matchLenPrices_[kPosStates][kLenSymbols];
    std::uint32_t repLenPrices_[kPosStates][kLenSymbols];
    std::uint32_t slotPrices_[kLenToPosStates][64];
    std::uint32_t fullDistancePrices_[kLenToPosStates][kFullDistances];
    std::uint32_t alignPrices_[kAlignSize];
};

// The dictionary: the input's size rounded up to a power of two, from 4 KiB to the largest the
// decoder takes. A small entry thus needs little memory to decode, and a power of two keeps the
// property bytes few and familiar.
std::uint32_t DictionaryFor(std::uint64_t size) {
    std::uint32_t dictionary = kMinDictionary;
    while (dictionary < size && dictionary < kLzmaMaxDictionary)
        dictionary <<= 1;
    return dictionary;
}

} // namespace

bool EncodeLzma(package::ByteSource& input, std::uint64_t offset, std::uint64_t size,
                LzmaSink& sink, std::size_t readBlock) {
    if (readBlock == 0)
        readBlock = 1;
    const std::uint32_t dictionary = DictionaryFor(size);
    const std::uint8_t properties[kLzmaPropertiesSize] = {
        static_cast<std::uint8_t>((kPb * 5 + kLp) * 9 + kLc), static_cast<std::uint8_t>(dictionary),
        static_cast<std::uint8_t>(dictionary >> 8), static_cast<std::uint8_t>(dictionary >> 16),
        static_cast<std::uint8_t>(dictionary >> 24)};
    // An empty input is the properties and the coder's flush of nothing: five zero bytes.
    Encoder encoder(input, offset, size, dictionary, readBlock, sink);
    return encoder.Run(properties);
}

bool EncodeLzma(package::ByteSource& input, std::uint64_t offset, std::uint64_t size,
                LzmaSink& sink) {
    return EncodeLzma(input, offset, size, sink, kDefaultReadBlock);
}

} // namespace packer
