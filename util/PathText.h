// Paths as text, where nothing is looked up on disk: the checks and trims the stub makes on a path
// it built or was given.
#pragma once

#include <string>

// A drive's root or a share: never a name taken against the current directory or searched for.
[[nodiscard]] bool IsFullPath(const std::wstring& path);

std::wstring WithoutTrailingBackslashes(std::wstring path);
std::wstring WithTrailingBackslash(std::wstring path);

// "C:\x" for "\\?\C:\x" and "\\server\share\x" for "\\?\UNC\server\share\x"; any other path as it
// is.
std::wstring WithoutLongPathPrefix(const std::wstring& path);

// A file's final path as Windows reports it ("\\?\C:\x", "\\?\UNC\server\share\x"), as text to
// hand on: "C:\x" and "\\server\share\x" while that fits MAX_PATH, the form every function
// parses alike; past 259 characters the prefixed form, the one in which the file functions take
// so long a path without a long-path-aware manifest.
std::wstring PathToHandOn(const std::wstring& finalPath);

// A full path too long for the plain form (260 characters and more) in the prefixed form
// ("\\?\C:\x", "\\?\UNC\server\share\x"), which the calls that take a path by text accept up to
// 32,767 characters; any other path as it is.
std::wstring LongPathForm(const std::wstring& path);
