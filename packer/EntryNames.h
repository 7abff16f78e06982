// Which names a packed file may have. The stub writes each entry to its extraction folder under
// the stored name, decoded with the target machine's ANSI code page, while running elevated; a
// name must therefore mean the same on every machine and be created by Windows exactly as given.
// A stored name is a relative path: folder names and the file's name, joined by backslashes.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace packer {

// Why the stored name made of `parts` (folders, then the file) cannot name a packed file, or an
// empty string when it can: the entry name rule (package/EntryName.h), and printable ASCII only,
// as the stub decodes names with the target machine's code page.
std::string StoredNameProblem(const std::vector<std::string>& parts);

// StoredNameProblem of a stored name as read from a package.
std::string EntryPathProblem(const std::string& path);

// A stored name's parts joined by backslashes (package::SplitEntryPath splits them).
std::string JoinEntryPath(const std::vector<std::string>& parts);

// The name as Windows compares file names, so that two entries that would overwrite each other
// compare equal (the names are ASCII, so folding ASCII letters is enough).
std::string FoldCase(const std::string& name);

// Bytes outside printable ASCII written as \xNN, so a hostile name prints as one harmless line.
std::string Printable(const std::string& name);

// A stored name for a message or a listing: each part as Printable shows it, the parts joined by
// backslashes.
std::string ShownName(const std::string& name);

// A path in quotes for a message: control bytes written as \xNN so that the message stays one
// line; other bytes, backslashes and UTF-8 included, as they are.
std::string QuotedPath(const std::filesystem::path& path);

} // namespace packer
