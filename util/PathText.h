// Paths as text, where nothing is looked up on disk: the checks and trims the stub makes on a path
// it built or was given.
#pragma once

#include <string>

// A drive's root or a share: never a name taken against the current directory or searched for.
[[nodiscard]] bool IsFullPath(const std::wstring& path);

std::wstring WithoutTrailingBackslashes(std::wstring path);
std::wstring WithTrailingBackslash(std::wstring path);

// A file's final path as Windows reports it ("\\?\C:\x", "\\?\UNC\server\share\x"), as text to
// hand on: "C:\x" and "\\server\share\x" while that fits MAX_PATH, the form every function
// parses alike; past 259 characters the prefixed form, the one in which the file functions take
// so long a path without a long-path-aware manifest.
std::wstring PathToHandOn(const std::wstring& finalPath);
