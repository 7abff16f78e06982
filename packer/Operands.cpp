#include "packer/Operands.h"

#include "packer/ResponseFiles.h"
#include "packer/Wildcards.h"

namespace packer {

namespace fs = std::filesystem;

std::vector<fs::path> ExpandOperands(const std::vector<std::string>& operands,
                                     Wildcards wildcards) {
    std::vector<fs::path> paths;
    for (const std::string& operand : operands) {
        std::vector<fs::path> expanded;
        if (operand.size() > 1 && operand[0] == '@')
            expanded = ReadResponseFile(fs::u8path(operand.substr(1)));
        else if (wildcards == Wildcards::expand &&
                 HasWildcard(fs::u8path(operand).filename().u8string()))
            expanded = ExpandWildcard(fs::u8path(operand));
        else
            expanded = {fs::u8path(operand)};
        paths.insert(paths.end(), expanded.begin(), expanded.end());
    }
    return paths;
}

} // namespace packer
