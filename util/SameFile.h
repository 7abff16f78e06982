// Whether a path, as Windows will parse it again, reaches what the stub holds. A path handed on to
// CreateProcessW (the program, the current directory, a script cmd opens) is text Windows reads
// anew: it drops a component's trailing dots and blanks, expands short names, follows links. The
// stub acts through handles, and before it hands such text on it opens that very text and
// compares what it reached with the handle it holds. The text is opened as given, never with a
// \\?\ prefix added: the prefix turns off the very parsing the check stands in for.
#pragma once

#include <windows.h>

#include <string>

// True when `path`, opened by exactly that text (links followed, as a program's open follows
// them), is the file or folder `held` is open on: the same volume and the same file index.
[[nodiscard]] bool PathReaches(const std::wstring& path, HANDLE held);
