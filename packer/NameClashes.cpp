#include "packer/NameClashes.h"

#include "packer/EntryNames.h"

namespace packer {

std::optional<NameClash> StoredNames::Add(const std::vector<std::string>& parts,
                                          std::size_t owner) {
    const std::string name = JoinEntryPath(parts);
    std::string folded;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        folded += (i == 0 ? "" : "\\") + FoldCase(parts[i]);
        const bool folder = i + 1 < parts.size();
        const auto [seen, fresh] = seen_.emplace(folded, Seen{folder, owner, name});
        // Two entries may share their folders, whatever their spelling; nothing else.
        if (!fresh && !(folder && seen->second.folder))
            return NameClash{!folder && !seen->second.folder, seen->second.owner,
                             name.substr(0, folded.size()), seen->second.name};
    }
    return std::nullopt;
}

} // namespace packer
