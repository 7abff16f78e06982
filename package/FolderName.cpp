#include "package/FolderName.h"

#include "util/AsciiCase.h"

namespace package {

namespace {

constexpr std::size_t kRandomDigits = 16;

bool IsHexDigit(wchar_t c) {
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

} // namespace

std::wstring FreshFolderName(std::uint64_t random) {
    static const wchar_t kHex[] = L"0123456789abcdef";
    std::wstring name = std::wstring(kFolderName) + L'.';
    for (int shift = 4 * (kRandomDigits - 1); shift >= 0; shift -= 4)
        name += kHex[(random >> shift) & 0xF];
    return name;
}

bool IsRunFolderName(const std::wstring& name) {
    const std::wstring base = kFolderName;
    if (EqualsIgnoringAsciiCase(name, base))
        return true;
    if (name.size() != base.size() + 1 + kRandomDigits ||
        !EqualsIgnoringAsciiCase(name.substr(0, base.size() + 1), base + L'.'))
        return false;
    for (std::size_t i = base.size() + 1; i < name.size(); ++i)
        if (!IsHexDigit(name[i]))
            return false;
    return true;
}

} // namespace package
