#include "util/AsciiCase.h"

void ToAsciiUpper(std::wstring& text) noexcept {
    for (wchar_t& c : text)
        c = ToAsciiUpper(c);
}

bool EqualsIgnoringAsciiCase(std::wstring_view left, std::wstring_view right) noexcept {
    if (left.size() != right.size())
        return false;
    for (size_t i = 0; i < left.size(); ++i) {
        if (ToAsciiUpper(left[i]) != ToAsciiUpper(right[i]))
            return false;
    }
    return true;
}
