#include "packer/Wildcards.h"

#include "packer/EntryNames.h"
#include "packer/FolderListing.h"
#include "packer/PackError.h"

namespace packer {

namespace fs = std::filesystem;

namespace {

// Code points, ASCII letters folded; a byte that starts no valid sequence stands for itself.
std::u32string FoldedCharacters(const std::string& text) {
    std::u32string characters;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        char32_t character = length == 1 ? lead : lead & (0x7F >> length);
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
            if ((next & 0xC0) != 0x80) {
                length = 1;
                character = lead;
                break;
            }
            character = (character << 6) | (next & 0x3F);
        }
        if (character >= U'A' && character <= U'Z')
            character += U'a' - U'A';
        characters.push_back(character);
        i += length;
    }
    return characters;
}

// Greedy, going back to the last '*' on a mismatch: linear in practice, never exponential.
bool Matches(const std::u32string& pattern, const std::u32string& name) {
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::u32string::npos;
    std::size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == U'?' || pattern[p] == name[n])) {
            ++p;
            ++n;
        } else if (p < pattern.size() && pattern[p] == U'*') {
            star = p++;
            resume = n;
        } else if (star != std::u32string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == U'*')
        ++p;
    return p == pattern.size();
}

} // namespace

bool HasWildcard(const std::string& text) {
    return text.find_first_of("*?") != std::string::npos;
}

bool WildcardMatches(const std::string& pattern, const std::string& name) {
    const std::u32string folded = FoldedCharacters(pattern);
    const std::u32string characters = FoldedCharacters(name);
    if (Matches(folded, characters))
        return true;
    const std::size_t size = folded.size();
    return size >= 2 && folded.compare(size - 2, 2, U".*") == 0 &&
           Matches(folded.substr(0, size - 2), characters);
}

std::vector<fs::path> ExpandWildcard(const fs::path& pattern) {
    const fs::path folder = pattern.parent_path();
    const std::string last = pattern.filename().u8string();
    std::vector<FolderEntry> entries;
    try {
        entries = ListFolder(folder.empty() ? fs::path(".") : folder);
    } catch (const PackError&) {
        // Reported as a pattern that matches nothing, below.
    }
    SortByName(entries);
    std::vector<fs::path> matches;
    for (const FolderEntry& entry : entries)
        if (WildcardMatches(last, entry.name))
            matches.push_back(folder / fs::u8path(entry.name));
    if (matches.empty())
        throw PackError(QuotedPath(pattern) + " matches no file or folder");
    return matches;
}

} // namespace packer
