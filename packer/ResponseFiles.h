// Response files: an operand "@FILE" stands for the paths FILE lists, so that a long list of
// files need not fit one command line (cmd's ends at 8191 characters).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace packer {

// One path a line, as UTF-8 text: a byte-order mark at the start is dropped, lines end in LF or
// CR LF, and lines of nothing but blanks are skipped. The rest of each line is the path as it
// stands, blanks included.
std::vector<std::string> ResponseFileLines(const std::string& text);

// The paths `file` lists, each relative to the file's folder unless absolute. The lines are paths
// only: an "@" or a wildcard in them is part of a name. Throws PackError when the file cannot be
// read.
std::vector<std::filesystem::path> ReadResponseFile(const std::filesystem::path& file);

} // namespace packer
