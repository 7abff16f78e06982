#include "util/NumberText.h"

void AppendDecimal(std::wstring& text, std::uint32_t value) {
    wchar_t digits[10];
    int count = 0;
    do {
        digits[count++] = static_cast<wchar_t>(L'0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0)
        text += digits[--count];
}

void AppendSigned(std::wstring& text, std::int32_t value) {
    // Negated as unsigned, so that the most negative value has a magnitude too.
    std::uint32_t magnitude = static_cast<std::uint32_t>(value);
    if (value < 0) {
        text += L'-';
        magnitude = 0u - magnitude;
    }
    AppendDecimal(text, magnitude);
}

void AppendHex(std::wstring& text, unsigned value, int digits) {
    static const wchar_t kHex[] = L"0123456789abcdef";
    for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
        text += kHex[(value >> shift) & 0xF];
}
