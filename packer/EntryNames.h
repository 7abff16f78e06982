// Which names a packed file may have. The stub writes each entry to its extraction folder under
// the stored name while running elevated; a name must therefore mean the same on every machine
// and be created by Windows exactly as given. A stored name is a relative path: folder names and
// the file's name, joined by backslashes.
//
// The tool takes names as the file system gives them, as UTF-8 (the bytes of a Linux path; a
// Windows path converted). A package whose names are all ASCII is stored as ever, and the stub
// decodes it with the machine's ANSI code page, which reads ASCII alike everywhere; one with any
// other name is marked as holding UTF-8 names (package::kOptionUtf8Names), which the stub decodes
// as UTF-8 whatever the code page.
#pragma once

#include "package/StubSettings.h"

#include <filesystem>
#include <string>
#include <vector>

namespace packer {

// How a package's names are to be read.
enum class NameText {
    ansi, // the ANSI code page of the machine: the tool takes printable ASCII only
    utf8, // UTF-8
};

// How the names of a package made for a stub of these settings are read.
NameText NameTextOf(const package::StubSettings& settings);

// Why the stored name made of `parts` (folders, then the file) cannot name a packed file, or an
// empty string when it can: the entry name rule (package/EntryName.h), valid UTF-8 without control
// characters, or printable ASCII only for names read in the ANSI code page.
std::string StoredNameProblem(const std::vector<std::string>& parts,
                              NameText text = NameText::utf8);

// StoredNameProblem of a stored name as read from a package.
std::string EntryPathProblem(const std::string& path, NameText text);

// The UTF-8 text's length for a message: "270 bytes in UTF-8 (90 characters)", or "N bytes long"
// for ASCII.
std::string ShownLength(const std::string& text);

// A stored name's parts joined by backslashes (package::SplitEntryPath splits them).
std::string JoinEntryPath(const std::vector<std::string>& parts);

// The name with ASCII letters in lower case: the order the tool packs a folder's entries in.
std::string FoldCase(const std::string& name);

// The name as Windows compares file names, so that two entries that would overwrite each other
// compare equal: each letter in its simple upper case (Utf8.h), bytes that are no UTF-8 as they
// are.
std::string CaseKey(const std::string& name);

// The name as one harmless line: bytes that are no UTF-8 (all beyond ASCII, for ANSI text),
// control characters, backslashes and characters that reorder or break the line written as \xNN
// for each of their bytes.
std::string Printable(const std::string& name, NameText text = NameText::utf8);

// A stored name for a message or a listing: each part as Printable shows it, the parts joined by
// backslashes.
std::string ShownName(const std::string& name, NameText text = NameText::utf8);

// A path in quotes for a message, as Printable shows it but for the backslashes, which stay.
std::string QuotedPath(const std::filesystem::path& path);

} // namespace packer
