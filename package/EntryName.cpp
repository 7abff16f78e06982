#include "package/EntryName.h"

#include "package/PackageFormat.h"
#include "package/WindowsNames.h"

#include <cstdint>
#include <utility>

namespace package {

namespace {

template <typename Char> std::uint32_t CodeOf(Char c) {
    if constexpr (sizeof(Char) == 1)
        return static_cast<unsigned char>(c);
    else
        return static_cast<std::uint32_t>(c);
}

// The first position of any of the ASCII characters `set` in `text`, or npos.
template <typename Char>
std::size_t FindAnyOf(std::basic_string_view<Char> text, std::string_view set) {
    for (std::size_t i = 0; i < text.size(); ++i)
        for (const char c : set)
            if (CodeOf(text[i]) == static_cast<unsigned char>(c))
                return i;
    return std::basic_string_view<Char>::npos;
}

// What one character is at fault with wherever it stands.
template <typename Char> NameFault CharacterFault(Char c, NameCharacters characters) {
    const std::uint32_t code = CodeOf(c);
    if (code < 0x20 || code == 0x7F)
        return NameFault::control;
    if (characters == NameCharacters::printableAscii && code > 0x7E)
        return NameFault::notPrintableAscii;
    return NameFault::none;
}

template <typename Char>
NameFault PartFault(std::basic_string_view<Char> part, NameCharacters characters,
                    std::size_t& position) {
    if (part.empty())
        return NameFault::empty;
    if (part.size() == 1 && part[0] == Char('.'))
        return NameFault::currentFolder;
    if (part.size() == 2 && part[0] == Char('.') && part[1] == Char('.'))
        return NameFault::parentFolder;
    for (position = 0; position < part.size(); ++position)
        if (const NameFault fault = CharacterFault(part[position], characters);
            fault != NameFault::none)
            return fault;
    // What a name of its own cannot hold, in the order it is looked for.
    static constexpr std::pair<std::string_view, NameFault> kForbidden[] = {
        {"\\/", NameFault::separator},
        {":", NameFault::colon},
        {"<>\"|?*", NameFault::reservedCharacter}};
    for (const auto& [set, fault] : kForbidden)
        if ((position = FindAnyOf(part, set)) != std::basic_string_view<Char>::npos)
            return fault;
    position = 0;
    if (EndsInDotOrBlank(part))
        return NameFault::trailingDotOrBlank;
    if (IsReservedDeviceName(part))
        return NameFault::deviceName;
    return NameFault::none;
}

template <typename Char>
NameVerdict Check(const std::vector<std::basic_string_view<Char>>& parts,
                  NameCharacters characters) {
    if (parts.empty())
        return {NameFault::empty, 0, 0};
    std::size_t length = parts.size() - 1; // the backslashes
    for (const auto& part : parts)
        length += part.size();
    if (length > kMaxNameBytes)
        return {NameFault::tooLong, 0, 0};
    for (std::size_t i = 0; i < parts.size(); ++i) {
        std::size_t position = 0;
        const NameFault fault = PartFault(parts[i], characters, position);
        if (fault != NameFault::none)
            return {fault, i, position};
    }
    return {};
}

template <typename Char>
std::vector<std::basic_string_view<Char>> PartsOf(std::basic_string_view<Char> path) {
    std::vector<std::basic_string_view<Char>> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = path.find(Char('\\'), start)) != path.npos; start = end + 1)
        parts.push_back(path.substr(start, end - start));
    parts.push_back(path.substr(start));
    return parts;
}

} // namespace

NameVerdict CheckEntryName(const std::vector<std::string_view>& parts, NameCharacters characters) {
    return Check(parts, characters);
}

NameVerdict CheckEntryName(const std::vector<std::wstring_view>& parts, NameCharacters characters) {
    return Check(parts, characters);
}

NameVerdict CheckEntryPath(std::string_view path, NameCharacters characters) {
    return Check(PartsOf(path), characters);
}

NameVerdict CheckEntryPath(std::wstring_view path, NameCharacters characters) {
    return Check(PartsOf(path), characters);
}

bool IsSafeEntryPath(const std::wstring& path) {
    return CheckEntryPath(path).Acceptable();
}

} // namespace package
