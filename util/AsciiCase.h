// Case rules that touch the letters A to Z only. Executable names and the product key placeholder
// are compared this way, and the region code is upper-cased this way: every other character,
// accented letters included, stays exactly as it is, whatever the user's locale.
#pragma once

#include <string>
#include <string_view>

[[nodiscard]] constexpr wchar_t ToAsciiUpper(wchar_t c) noexcept {
    return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c;
}

// Upper-cases a to z in place; other characters are left alone.
void ToAsciiUpper(std::wstring& text) noexcept;

// True when both texts have the same length and agree character by character once a to z are
// upper-cased.
[[nodiscard]] bool EqualsIgnoringAsciiCase(std::wstring_view left,
                                           std::wstring_view right) noexcept;
