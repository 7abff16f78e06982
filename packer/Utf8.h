// UTF-8 as the packing tool takes names: strictly, as Windows' MB_ERR_INVALID_CHARS decoding does,
// so that the stub, which decodes each name of a UTF-8 package that way, never meets a name the
// tool let through and refuses the package for it. Needs no Windows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace packer {

enum class Utf8Fault {
    none,
    notUtf8,    // a byte that starts no character, or a sequence cut short
    overlong,   // a character spelt with more bytes than it needs ("/" as C0 AF)
    surrogate,  // U+D800 to U+DFFF, which UTF-16 keeps for pairs and UTF-8 never holds
    beyondRange // past U+10FFFF
};

struct Utf8Text {
    std::u32string characters; // up to the fault
    Utf8Fault fault = Utf8Fault::none;
    std::size_t position = 0; // of the byte at fault
};

Utf8Text DecodeUtf8(std::string_view bytes);

// The one character at `at` into `c`, its bytes into `length` (1 at a fault).
Utf8Fault DecodeCharacter(std::string_view bytes, std::size_t at, char32_t& c, std::size_t& length);

// The character as UTF-8; `c` is a Unicode scalar value.
std::string EncodeUtf8(char32_t c);

// Whether `text` holds only bytes below 0x80.
bool IsAscii(std::string_view text);

// The simple upper case of `c`, as Windows' upcase table has it, for ASCII, Latin-1 Supplement,
// Latin Extended-A, Greek and Cyrillic; any other character as it is.
char32_t UpperCase(char32_t c);

} // namespace packer
