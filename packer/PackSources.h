// What create packs: a file named on its own under its base name, a folder named with everything
// below it under the folder's own name, as tar and 7-Zip store them ("data" gives "data\a.cab",
// "data\lang\de\readme.txt").
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace packer {

struct PackSource {
    std::filesystem::path path;     // the file on disk
    std::vector<std::string> parts; // its stored name: folders, then its own name (UTF-8)
};

// The files `operands` name, in their order; within a folder by name (ASCII case ignored, then
// as spelt), so that one tree always gives the same package. Empty folders give nothing. A link
// named as an operand is followed; one inside a folder is refused, as is anything that is neither
// a file nor a folder, with a PackError.
std::vector<PackSource> CollectSources(const std::vector<std::filesystem::path>& operands);

} // namespace packer
