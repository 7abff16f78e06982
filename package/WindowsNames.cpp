#include "package/WindowsNames.h"

namespace package {

namespace {

template <typename Char> Char FoldAscii(Char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <typename Char> bool IsDeviceDigit(Char c) {
    if (c >= '1' && c <= '9')
        return true;
    // Only a wide name can hold the superscripts as themselves; a byte 0xB9 means what the
    // target machine's code page makes of it (and the tool refuses every non-ASCII byte).
    if constexpr (sizeof(Char) > 1)
        return c == 0xB9 || c == 0xB2 || c == 0xB3;
    return false;
}

template <typename Char> bool BaseIs(std::basic_string_view<Char> base, const char* device) {
    for (const Char c : base) {
        if (*device == '\0' || FoldAscii(c) != static_cast<Char>(*device))
            return false;
        ++device;
    }
    return *device == '\0';
}

template <typename Char> bool IsReserved(std::basic_string_view<Char> name) {
    std::basic_string_view<Char> base = name.substr(0, name.find(Char('.')));
    while (!base.empty() && base.back() == Char(' '))
        base.remove_suffix(1);
    for (const char* device : {"con", "prn", "aux", "nul"})
        if (BaseIs(base, device))
            return true;
    return base.size() == 4 &&
           (BaseIs(base.substr(0, 3), "com") || BaseIs(base.substr(0, 3), "lpt")) &&
           IsDeviceDigit(base[3]);
}

template <typename Char> bool EndsInDotOrBlankOf(std::basic_string_view<Char> name) {
    return !name.empty() && (name.back() == Char('.') || name.back() == Char(' '));
}

} // namespace

bool IsReservedDeviceName(std::string_view name) noexcept {
    return IsReserved(name);
}

bool IsReservedDeviceName(std::wstring_view name) noexcept {
    return IsReserved(name);
}

bool EndsInDotOrBlank(std::string_view name) noexcept {
    return EndsInDotOrBlankOf(name);
}

bool EndsInDotOrBlank(std::wstring_view name) noexcept {
    return EndsInDotOrBlankOf(name);
}

} // namespace package
