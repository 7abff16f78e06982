// The one rule for the names of packed files. The stub applies it to each entry it extracts and
// to the file it is told to start, the packing tool to each name it stores or reads back, so the
// two never disagree. A stored name is a relative path: folder names and the file's name joined
// by single backslashes ("data\\lang\\de.txt"). It must stay inside the extraction folder, fit a
// header, and name what Windows creates exactly as given.
//
// The tool asks of the stored bytes, the stub of the name decoded with the ANSI code page; the
// rule reads both alike. Needs no Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace package {

// Why a stored name is not acceptable, in the order a name is examined: its length first, then
// each part in turn, each fault of a part before the next.
enum class NameFault : std::uint8_t {
    none,
    tooLong,            // more than 259 characters: no room for the header's terminating zero
    empty,              // an empty name, or an empty part: a leading, trailing or doubled "\\"
    currentFolder,      // "." names the folder it is in, not a file
    parentFolder,       // ".." leads out of its folder
    control,            // below U+0020, or U+007F
    notPrintableAscii,  // beyond U+007E, refused only when the caller asks for printable ASCII
    separator,          // "\\" or "/" within a part: a part given apart may hold either
    colon,              // ":" names a drive or an alternate data stream
    reservedCharacter,  // < > " | ? *, which Windows does not allow in a name
    trailingDotOrBlank, // Windows drops it, and the file would get another name
    deviceName,         // CON, NUL, COM1 and the like open a device (package/WindowsNames.h)
};

// Which characters a name may hold beyond what the structure demands.
enum class NameCharacters : std::uint8_t {
    windows,        // whatever Windows allows in a name
    printableAscii, // U+0020 to U+007E only, which every ANSI code page decodes alike
};

struct NameVerdict {
    NameFault fault = NameFault::none;
    std::size_t part = 0;     // the part at fault, from 0
    std::size_t position = 0; // the character at fault within that part, for faults of one

    [[nodiscard]] bool Acceptable() const noexcept { return fault == NameFault::none; }
};

// The rule for a name given as its parts, folders first. The length counts the parts and the
// backslashes that join them, in the units given: bytes as stored, or UTF-16 units as decoded,
// which are never more than the bytes they were decoded from.
[[nodiscard]] NameVerdict CheckEntryName(const std::vector<std::string_view>& parts,
                                         NameCharacters characters = NameCharacters::windows);
[[nodiscard]] NameVerdict CheckEntryName(const std::vector<std::wstring_view>& parts,
                                         NameCharacters characters = NameCharacters::windows);

// The rule for a name as stored, split at each backslash.
[[nodiscard]] NameVerdict CheckEntryPath(std::string_view path,
                                         NameCharacters characters = NameCharacters::windows);
[[nodiscard]] NameVerdict CheckEntryPath(std::wstring_view path,
                                         NameCharacters characters = NameCharacters::windows);

// The stub's question of a name decoded from a header, or named by the caller as the file to
// start: whether it is one it may write, and start, in its extraction folder.
[[nodiscard]] bool IsSafeEntryPath(const std::wstring& path);

// A stored name's parts, split at each backslash: "a\\b" gives "a" and "b", "" one empty part.
// Inline, so that the stub, which splits decoded names only, carries no narrow string.
template <typename Char>
std::vector<std::basic_string<Char>> SplitEntryPathOf(std::basic_string_view<Char> path) {
    std::vector<std::basic_string<Char>> parts;
    for (std::size_t start = 0;;) {
        const std::size_t separator = path.find(Char('\\'), start);
        parts.emplace_back(path.substr(start, separator - start));
        if (separator == std::basic_string_view<Char>::npos)
            return parts;
        start = separator + 1;
    }
}
inline std::vector<std::string> SplitEntryPath(std::string_view path) {
    return SplitEntryPathOf(path);
}
inline std::vector<std::wstring> SplitEntryPath(std::wstring_view path) {
    return SplitEntryPathOf(path);
}

} // namespace package
