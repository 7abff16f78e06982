// Which names a packed file may have. The stub writes each entry to its extraction folder under
// the stored name, decoded with the target machine's ANSI code page, while running elevated; a
// name must therefore mean the same on every machine and be created by Windows exactly as given.
#pragma once

#include <filesystem>
#include <string>

namespace packer {

// Why `name` cannot name a packed file, or an empty string when it can.
std::string NameProblem(const std::string& name);

// The name as Windows compares file names, so that two entries that would overwrite each other
// compare equal (the names are ASCII, so folding ASCII letters is enough).
std::string FoldCase(const std::string& name);

// Bytes outside printable ASCII written as \xNN, so a hostile name prints as one harmless line.
std::string Printable(const std::string& name);

// A path in quotes for a message: control bytes written as \xNN so that the message stays one
// line; other bytes, backslashes and UTF-8 included, as they are.
std::string QuotedPath(const std::filesystem::path& path);

} // namespace packer
