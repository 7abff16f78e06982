// Wildcards in file operands, for the Windows tool: cmd hands "*.cab" to the program as typed.
// '*' stands for any run of characters, '?' for one; ASCII letters match whatever their case, as
// Windows compares file names, and a pattern ending in ".*" also matches names without a dot
// ("*.*" matches every name), as it does in cmd.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace packer {

bool HasWildcard(const std::string& text);

// Whether the UTF-8 `name` matches the UTF-8 `pattern`; '?' takes one character, not one byte.
bool WildcardMatches(const std::string& pattern, const std::string& name);

// The files and folders in the pattern's folder whose names match its last part, sorted as the
// tool sorts a folder, each as the pattern's folder joined with its name. Throws PackError naming
// the pattern when nothing matches.
std::vector<std::filesystem::path> ExpandWildcard(const std::filesystem::path& pattern);

} // namespace packer
