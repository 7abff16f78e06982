#include "packer/EntryNames.h"

#include "package/PackageFormat.h"
#include "package/WindowsNames.h"

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

} // namespace

std::string NameProblem(const std::string& name) {
    if (name.empty())
        return "the name is empty";
    if (name == "." || name == "..")
        return "'" + name + "' names a folder, not a file";
    if (name.size() > package::kMaxNameBytes)
        return "the name is " + std::to_string(name.size()) + " bytes long; at most " +
               std::to_string(package::kMaxNameBytes) + " fit a header";
    for (std::size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (!IsPrintableAscii(byte))
            return "byte " + HexByte(byte) + " at position " + std::to_string(i) +
                   " is not printable ASCII; the stub decodes names with the target machine's "
                   "ANSI code page, so any other byte may turn into another character there";
    }
    const std::size_t separator = name.find_first_of("\\/");
    if (separator != std::string::npos)
        return std::string("the name holds the path separator '") + name[separator] +
               "', which a file's or folder's own name cannot hold";
    if (name.find(':') != std::string::npos)
        return "the name holds ':', which names a drive or an alternate data stream on Windows";
    const std::size_t reserved = name.find_first_of("<>\"|?*");
    if (reserved != std::string::npos)
        return std::string("Windows does not allow '") + name[reserved] + "' in a file name";
    if (package::EndsInDotOrBlank(name))
        return "Windows drops a trailing dot or space, so the file would get another name";
    if (package::IsReservedDeviceName(name))
        return "'" + name + "' is a reserved device name on Windows";
    return {};
}

std::string StoredNameProblem(const std::vector<std::string>& parts) {
    if (parts.size() == 1)
        return NameProblem(parts.front());
    const std::string path = JoinEntryPath(parts);
    if (path.size() > package::kMaxNameBytes)
        return "the path is " + std::to_string(path.size()) + " bytes long; at most " +
               std::to_string(package::kMaxNameBytes) + " fit a header";
    for (const std::string& part : parts) {
        if (part.empty())
            return "the path has an empty part (a leading, trailing or doubled backslash)";
        if (part == "..")
            return "the path holds '..', which would lead out of its folder";
        if (part == ".")
            return "the path holds '.', which names the folder it is in";
        const std::string problem = NameProblem(part);
        if (!problem.empty())
            return "its part '" + Printable(part) + "': " + problem;
    }
    return {};
}

std::string EntryPathProblem(const std::string& path) {
    return StoredNameProblem(SplitEntryPath(path));
}

std::vector<std::string> SplitEntryPath(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t end; (end = path.find('\\', start)) != std::string::npos; start = end + 1)
        parts.push_back(path.substr(start, end - start));
    parts.push_back(path.substr(start));
    return parts;
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
    std::vector<std::string> parts = SplitEntryPath(name);
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
