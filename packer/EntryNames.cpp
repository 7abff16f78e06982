#include "packer/EntryNames.h"

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

using package::NameFault;

std::string LengthProblem(const char* what, std::size_t bytes) {
    return std::string("the ") + what + " is " + std::to_string(bytes) + " bytes long; at most " +
           std::to_string(package::kMaxNameBytes) + " fit a header";
}

// What is wrong with `name`, a whole stored name or one part of a path, as `verdict` found it.
std::string NameProblem(const std::string& name, const package::NameVerdict& verdict) {
    const char at = verdict.position < name.size() ? name[verdict.position] : '\0';
    switch (verdict.fault) {
    case NameFault::none:
        return {};
    case NameFault::tooLong:
        return LengthProblem("name", name.size());
    case NameFault::empty:
        return "the name is empty";
    case NameFault::currentFolder:
    case NameFault::parentFolder:
        return "'" + name + "' names a folder, not a file";
    case NameFault::control:
    case NameFault::notPrintableAscii:
        return "byte " + HexByte(static_cast<unsigned char>(at)) + " at position " +
               std::to_string(verdict.position) +
               " is not printable ASCII; the stub decodes names with the target machine's "
               "ANSI code page, so any other byte may turn into another character there";
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
        return "'" + name + "' is a reserved device name on Windows";
    }
    return "the name is refused";
}

} // namespace

std::string StoredNameProblem(const std::vector<std::string>& parts) {
    const package::NameVerdict verdict =
        package::CheckEntryName(std::vector<std::string_view>(parts.begin(), parts.end()),
                                package::NameCharacters::printableAscii);
    if (verdict.Acceptable())
        return {};
    if (parts.size() <= 1)
        return NameProblem(parts.empty() ? std::string() : parts.front(), verdict);
    switch (verdict.fault) {
    case NameFault::tooLong:
        return LengthProblem("path", JoinEntryPath(parts).size());
    case NameFault::empty:
        return "the path has an empty part (a leading, trailing or doubled backslash)";
    case NameFault::parentFolder:
        return "the path holds '..', which would lead out of its folder";
    case NameFault::currentFolder:
        return "the path holds '.', which names the folder it is in";
    default:
        break;
    }
    const std::string& part = parts[verdict.part];
    return "its part '" + Printable(part) + "': " + NameProblem(part, verdict);
}

std::string EntryPathProblem(const std::string& path) {
    return StoredNameProblem(package::SplitEntryPath(path));
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

std::string Printable(const std::string& name) {
    std::string shown;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (IsPrintableAscii(byte) && c != '\\')
            shown += c;
        else
            shown += HexByte(byte);
    }
    return shown;
}

std::string ShownName(const std::string& name) {
    std::vector<std::string> parts = package::SplitEntryPath(name);
    for (std::string& part : parts)
        part = Printable(part);
    return JoinEntryPath(parts);
}

std::string QuotedPath(const std::filesystem::path& path) {
    std::string shown = "'";
    for (const char c : path.u8string()) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            shown += HexByte(byte);
        else
            shown += c;
    }
    return shown + "'";
}

} // namespace packer
