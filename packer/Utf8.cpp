#include "packer/Utf8.h"

namespace packer {

namespace {

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// The odd member of each pair in [first, last] is the lower case of the even one before it
// (`lowerOdd`), or the other way round.
bool InPairs(char32_t c, char32_t first, char32_t last, bool lowerOdd) {
    return c >= first && c <= last && (c % 2 == 1) == lowerOdd;
}

} // namespace

Utf8Fault DecodeCharacter(std::string_view bytes, std::size_t at, char32_t& c,
                          std::size_t& length) {
    const auto lead = static_cast<unsigned char>(bytes[at]);
    char32_t least = 0; // the smallest character that needs this many bytes
    length = 0;
    if (lead < 0x80) {
        c = lead;
        length = 1;
        return Utf8Fault::none;
    }
    if (lead >= 0xC0 && lead < 0xE0) {
        length = 2;
        c = lead & 0x1F;
        least = 0x80;
    } else if (lead >= 0xE0 && lead < 0xF0) {
        length = 3;
        c = lead & 0x0F;
        least = 0x800;
    } else if (lead >= 0xF0 && lead < 0xF8) {
        length = 4;
        c = lead & 0x07;
        least = 0x10000;
    }
    bool whole = length != 0 && bytes.size() - at >= length;
    for (std::size_t k = 1; whole && k < length; ++k) {
        const auto next = static_cast<unsigned char>(bytes[at + k]);
        whole = IsContinuation(next);
        c = (c << 6) | (next & 0x3F);
    }
    Utf8Fault fault = Utf8Fault::none;
    if (!whole)
        fault = Utf8Fault::notUtf8;
    else if (c < least)
        fault = Utf8Fault::overlong;
    else if (c >= 0xD800 && c <= 0xDFFF)
        fault = Utf8Fault::surrogate;
    else if (c > 0x10FFFF)
        fault = Utf8Fault::beyondRange;
    if (fault != Utf8Fault::none)
        length = 1;
    return fault;
}

Utf8Text DecodeUtf8(std::string_view bytes) {
    Utf8Text text;
    for (std::size_t i = 0, length = 0; i < bytes.size(); i += length) {
        char32_t c = 0;
        text.fault = DecodeCharacter(bytes, i, c, length);
        text.position = i;
        if (text.fault != Utf8Fault::none)
            return text;
        text.characters += c;
    }
    text.position = bytes.size();
    return text;
}

std::string EncodeUtf8(char32_t c) {
    std::string out;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
    return out;
}

bool IsAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

char32_t UpperCase(char32_t c) {
    // Letters whose upper case lies a fixed distance below them.
    struct Shift {
        char32_t first, last, by;
    };
    static constexpr Shift kShifts[] = {
        {U'a', U'z', 0x20},   {0xE0, 0xF6, 0x20},   {0xF8, 0xFE, 0x20},
        {0x3B1, 0x3C1, 0x20}, {0x3C3, 0x3CB, 0x20}, {0x3AD, 0x3AF, 0x25},
        {0x3CD, 0x3CE, 0x3F}, {0x430, 0x44F, 0x20}, {0x450, 0x45F, 0x50},
    };
    for (const Shift& shift : kShifts)
        if (c >= shift.first && c <= shift.last)
            return c - shift.by;
    // Pairs of an upper-case letter and its lower case right after it.
    struct Pairs {
        char32_t first, last;
        bool lowerOdd;
    };
    static constexpr Pairs kPairs[] = {
        {0x100, 0x12F, true},  {0x132, 0x137, true}, {0x139, 0x148, false}, {0x14A, 0x177, true},
        {0x179, 0x17E, false}, {0x370, 0x373, true}, {0x376, 0x377, true},  {0x3D8, 0x3EF, true},
        {0x460, 0x481, true},  {0x48A, 0x4BF, true}, {0x4C1, 0x4CE, false}, {0x4D0, 0x52F, true},
    };
    for (const Pairs& pairs : kPairs)
        if (InPairs(c, pairs.first, pairs.last, pairs.lowerOdd))
            return c - 1;
    // The rest, one by one.
    static constexpr char32_t kSingles[][2] = {
        {0xB5, 0x39C},  {0xFF, 0x178},  {0x131, U'I'},  {0x17F, U'S'},  {0x37B, 0x3FD},
        {0x37C, 0x3FE}, {0x37D, 0x3FF}, {0x3AC, 0x386}, {0x3C2, 0x3A3}, {0x3CC, 0x38C},
        {0x3D0, 0x392}, {0x3D1, 0x398}, {0x3D5, 0x3A6}, {0x3D6, 0x3A0}, {0x3D7, 0x3CF},
        {0x3F0, 0x39A}, {0x3F1, 0x3A1}, {0x3F2, 0x3F9}, {0x3F3, 0x37F}, {0x3F5, 0x395},
        {0x3F8, 0x3F7}, {0x3FB, 0x3FA}, {0x4CF, 0x4C0},
    };
    for (const auto& single : kSingles)
        if (c == single[0])
            return single[1];
    return c;
}

} // namespace packer
