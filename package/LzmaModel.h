// What the LZMA encoder and decoder share: the coder's constants and its probability model, laid
// out once so that the two cannot drift apart.
#pragma once

#include <cstdint>

namespace package::lzma {

constexpr unsigned kNumStates = 12;
constexpr unsigned kMaxPosStates = 1u << 4;
constexpr unsigned kLenToPosStates = 4;
constexpr unsigned kEndPosModelIndex = 14;
constexpr unsigned kFullDistances = 1u << (kEndPosModelIndex >> 1);
constexpr unsigned kAlignBits = 4;
constexpr unsigned kAlignSize = 1u << kAlignBits;
constexpr unsigned kLiteralCoderSize = 0x300;
// Below this the coder's dictionary counts as this much, as every encoder assumes.
constexpr std::uint32_t kMinDictionary = 1u << 12;

constexpr unsigned kProbBits = 11;
constexpr unsigned kProbTotal = 1u << kProbBits;
constexpr unsigned kProbInit = kProbTotal / 2;
constexpr unsigned kMoveBits = 5;
constexpr std::uint32_t kTopValue = 1u << 24;

using Prob = std::uint16_t;

// One length coder: choice bits, then 3 + 3 + 8 bit trees.
struct LengthProbs {
    Prob choice;
    Prob choice2;
    Prob low[kMaxPosStates][1 << 3];
    Prob mid[kMaxPosStates][1 << 3];
    Prob high[1 << 8];
};

// Every probability but the literal coders', which depend on lc and lp.
struct Probs {
    Prob isMatch[kNumStates][kMaxPosStates];
    Prob isRep[kNumStates];
    Prob isRepG0[kNumStates];
    Prob isRepG1[kNumStates];
    Prob isRepG2[kNumStates];
    Prob isRep0Long[kNumStates][kMaxPosStates];
    Prob posSlot[kLenToPosStates][1 << 6];
    Prob posSpecial[1 + kFullDistances - kEndPosModelIndex]; // from index 1, as the trees
    Prob align[kAlignSize];
    LengthProbs matchLen;
    LengthProbs repLen;
};

} // namespace package::lzma
