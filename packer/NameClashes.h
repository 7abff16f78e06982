// Stored names as Windows compares them, case ignored (CaseKey in EntryNames.h): two entries that
// would be written to one file, or a name that one entry needs as a file and another as a folder,
// cannot both be extracted.
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace packer {

struct NameClash {
    bool sameFile = false;   // false: `path` would be a file and a folder
    std::size_t earlier = 0; // the owner of the name added before
    std::string path;        // what clashes, as the name added last spells it
    std::string earlierName; // the whole stored name added before
};

class StoredNames {
public:
    // Adds the stored name made of `parts` (folders, then the file) for `owner`, or returns how
    // it clashes with a name added before.
    std::optional<NameClash> Add(const std::vector<std::string>& parts, std::size_t owner);

private:
    struct Seen {
        bool folder = false;
        std::size_t owner = 0;
        std::string name; // the whole stored name of the owner
    };
    std::map<std::string, Seen> seen_; // folded path of a file or folder -> its first owner
};

} // namespace packer
