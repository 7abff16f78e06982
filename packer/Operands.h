// The file operands of create as the tool takes them, before any file is looked at.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace packer {

// Whether the tool expands wildcards itself: on Windows, where cmd leaves them to the program;
// on Linux the shell has expanded them, and a '*' left is part of a name.
enum class Wildcards { literal, expand };

#ifdef _WIN32
constexpr Wildcards kOperandWildcards = Wildcards::expand;
#else
constexpr Wildcards kOperandWildcards = Wildcards::literal;
#endif

// "@FILE" replaced by the paths FILE lists (ResponseFiles.h), and with Wildcards::expand a path
// whose last part holds '*' or '?' by what it matches (Wildcards.h); any other operand as it is.
// Throws PackError for a response file that cannot be read or a pattern that matches nothing.
std::vector<std::filesystem::path> ExpandOperands(const std::vector<std::string>& operands,
                                                  Wildcards wildcards);

} // namespace packer
