#include "packer/EntryNames.h"

#include "packer/Utf8.h"

#include "package/EntryName.h"
#include "package/PackageFormat.h"

#include <cstdio>

namespace packer {

namespace {

bool IsPrintableAscii(unsigned char byte) {
    return byte >= 0x20 && byte <= 0x7E;
}

std::string HexByte(unsigned char byte) {
    char text[8];
    std::snprintf(text, sizeof text, "\\x%02X", byte);
    return text;
}

std::string CodePoint(char32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(c));
    return text;
}

bool IsControl(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// Characters that reorder the text around them or end its line, in a terminal or an editor.
bool MovesText(char32_t c) {
    return c == 0x061C || c == 0x200E || c == 0x200F || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

std::string Escaped(const std::string& text, NameText as, bool keepBackslashes) {
    std::string shown;
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        const auto byte = static_cast<unsigned char>(text[i]);
        char32_t c = byte;
        length = 1;
        const bool character = as == NameText::utf8
                                   ? DecodeCharacter(text, i, c, length) == Utf8Fault::none
                                   : IsPrintableAscii(byte);
        const bool plain =
            character && !IsControl(c) && !MovesText(c) && (c != '\\' || keepBackslashes);
        for (std::size_t k = i; k < i + length; ++k)
            shown += plain ? std::string(1, text[k]) : HexByte(static_cast<unsigned char>(text[k]));
    }
    return shown;
}

using package::NameFault;

std::string LengthProblem(const char* what, const std::string& text) {
    return std::string("the ") + what + " is " + ShownLength(text) + "; at most " +
           std::to_string(package::kMaxNameBytes) + " fit";
}

std::string Utf8Problem(const std::string& part, const Utf8Text& decoded) {
    const std::string at = "byte " + HexByte(static_cast<unsigned char>(part[decoded.position])) +
                           " at position " + std::to_string(decoded.position);
    switch (decoded.fault) {
    case Utf8Fault::none:
        break;
    case Utf8Fault::notUtf8:
        return at + " is not UTF-8, which names are taken as (on Linux, the bytes of the path)";
    case Utf8Fault::overlong:
        return at + " starts an overlong UTF-8 form, which Windows does not decode";
    case Utf8Fault::surrogate:
        return at + " starts a surrogate encoded in UTF-8, which Windows does not decode";
    case Utf8Fault::beyondRange:
        return at + " starts a character beyond U+10FFFF, which Windows does not decode";
    }
    return {};
}

// What is wrong with `name`, a whole stored name or one part of a path, as `verdict` found it.
std::string NameProblem(const std::string& name, const package::NameVerdict& verdict) {
    const char at = verdict.position < name.size() ? name[verdict.position] : '\0';
    switch (verdict.fault) {
    case NameFault::none:
        return {};
    case NameFault::tooLong:
        return LengthProblem("name", name);
    case NameFault::empty:
        return "the name is empty";
    case NameFault::currentFolder:
    case NameFault::parentFolder:
        return "'" + name + "' names a folder, not a file";
    case NameFault::control:
        return "character " + CodePoint(static_cast<unsigned char>(at)) + " at position " +
               std::to_string(verdict.position) + " is a control character";
    case NameFault::notPrintableAscii:
        return "byte " + HexByte(static_cast<unsigned char>(at)) + " at position " +
               std::to_string(verdict.position) +
               " is not printable ASCII, and the package's names are not marked as UTF-8: the "
               "stub decodes them with the target machine's ANSI code page, where any other byte "
               "may turn into another character";
    case NameFault::separator:
        return std::string("the name holds the path separator '") + at +
               "', which a file's or folder's own name cannot hold";
    case NameFault::colon:
        return "the name holds ':', which names a drive or an alternate data stream on Windows";
    case NameFault::reservedCharacter:
        return std::string("Windows does not allow '") + at + "' in a file name";
    case NameFault::trailingDotOrBlank:
        return "Windows drops a trailing dot or space, so the file would get another name";
    case NameFault::deviceName:
        return "'" + Printable(name) + "' is a reserved device name on Windows";
    }
    return "the name is refused";
}

// `problem` of part `index` of a name of `parts`.
std::string InPart(const std::vector<std::string>& parts, std::size_t index,
                   const std::string& problem) {
    if (parts.size() <= 1)
        return problem;
    return "its part '" + Printable(parts[index]) + "': " + problem;
}

// What the decoded characters of a valid UTF-8 name add to the rule on its bytes: control
// characters beyond ASCII, and what the stub sees only decoded (a device name with a superscript
// digit).
std::string DecodedProblem(const std::vector<std::string>& parts) {
    std::vector<std::wstring> wide;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::u32string characters = DecodeUtf8(parts[i]).characters;
        std::size_t position = 0;
        std::wstring part;
        for (const char32_t c : characters) {
            if (IsControl(c))
                return InPart(parts, i,
                              "character " + CodePoint(c) + " at position " +
                                  std::to_string(position) + " is a control character");
            position += EncodeUtf8(c).size();
            // Only ASCII and Latin-1 matter to the rule: what lies beyond stands in as itself or,
            // where wchar_t is UTF-16, as a character the rule takes.
            part += static_cast<wchar_t>(c <= 0xFFFF ? c : 0xFFFD);
        }
        wide.push_back(part);
    }
    const package::NameVerdict verdict =
        package::CheckEntryName(std::vector<std::wstring_view>(wide.begin(), wide.end()));
    if (verdict.Acceptable())
        return {};
    return InPart(parts, verdict.part,
                  verdict.fault == NameFault::deviceName
                      ? "'" + Printable(parts[verdict.part]) +
                            "' is a reserved device name on "
                            "Windows"
                      : "Windows does not take the name as it is");
}

} // namespace

NameText NameTextOf(const package::StubSettings& settings) {
    return (settings.options & package::kOptionUtf8Names) != 0 ? NameText::utf8 : NameText::ansi;
}

std::string StoredNameProblem(const std::vector<std::string>& parts, NameText text) {
    if (text == NameText::utf8)
        for (std::size_t i = 0; i < parts.size(); ++i)
            if (const Utf8Text decoded = DecodeUtf8(parts[i]); decoded.fault != Utf8Fault::none)
                return InPart(parts, i, Utf8Problem(parts[i], decoded));
    const package::NameVerdict verdict =
        package::CheckEntryName(std::vector<std::string_view>(parts.begin(), parts.end()),
                                text == NameText::utf8 ? package::NameCharacters::windows
                                                       : package::NameCharacters::printableAscii);
    if (verdict.Acceptable())
        return text == NameText::utf8 ? DecodedProblem(parts) : std::string();
    if (parts.size() <= 1)
        return NameProblem(parts.empty() ? std::string() : parts.front(), verdict);
    switch (verdict.fault) {
    case NameFault::tooLong:
        return LengthProblem("path", JoinEntryPath(parts));
    case NameFault::empty:
        return "the path has an empty part (a leading, trailing or doubled backslash)";
    case NameFault::parentFolder:
        return "the path holds '..', which would lead out of its folder";
    case NameFault::currentFolder:
        return "the path holds '.', which names the folder it is in";
    default:
        break;
    }
    return InPart(parts, verdict.part, NameProblem(parts[verdict.part], verdict));
}

std::string EntryPathProblem(const std::string& path, NameText text) {
    return StoredNameProblem(package::SplitEntryPath(path), text);
}

std::string ShownLength(const std::string& text) {
    const Utf8Text decoded = DecodeUtf8(text);
    if (IsAscii(text) || decoded.fault != Utf8Fault::none)
        return std::to_string(text.size()) + " bytes long";
    return std::to_string(text.size()) + " bytes in UTF-8 (" +
           std::to_string(decoded.characters.size()) + " characters)";
}

std::string JoinEntryPath(const std::vector<std::string>& parts) {
    std::string path;
    for (std::size_t i = 0; i < parts.size(); ++i)
        path += (i == 0 ? "" : "\\") + parts[i];
    return path;
}

std::string FoldCase(const std::string& name) {
    std::string folded = name;
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return folded;
}

std::string CaseKey(const std::string& name) {
    std::string key;
    for (std::size_t i = 0, length = 0; i < name.size(); i += length) {
        char32_t c = 0;
        if (DecodeCharacter(name, i, c, length) == Utf8Fault::none)
            key += EncodeUtf8(UpperCase(c));
        else
            key += name[i];
    }
    return key;
}

std::string Printable(const std::string& name, NameText text) {
    return Escaped(name, text, false);
}

std::string ShownName(const std::string& name, NameText text) {
    std::vector<std::string> parts = package::SplitEntryPath(name);
    for (std::string& part : parts)
        part = Printable(part, text);
    return JoinEntryPath(parts);
}

std::string QuotedPath(const std::filesystem::path& path) {
    return "'" + Escaped(path.u8string(), NameText::utf8, true) + "'";
}

} // namespace packer
