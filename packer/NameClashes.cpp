#include "packer/NameClashes.h"

#include "packer/EntryNames.h"

namespace packer {

std::optional<NameClash> StoredNames::Add(const std::vector<std::string>& parts,
                                          std::size_t owner) {
    const std::string name = JoinEntryPath(parts);
    std::string folded;
    std::size_t spelt = 0; // how much of `name` the parts so far take
    for (std::size_t i = 0; i < parts.size(); ++i) {
        folded += (i == 0 ? "" : "\\") + CaseKey(parts[i]);
        spelt += (i == 0 ? 0 : 1) + parts[i].size();
        const bool folder = i + 1 < parts.size();
        const auto [seen, fresh] = seen_.emplace(folded, Seen{folder, owner, name});
        // Two entries may share their folders, whatever their spelling; nothing else.
        if (!fresh && !(folder && seen->second.folder))
            return NameClash{!folder && !seen->second.folder, seen->second.owner,
                             name.substr(0, spelt), seen->second.name};
    }
    return std::nullopt;
}

} // namespace packer
