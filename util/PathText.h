// Paths as text, where nothing is looked up on disk: the checks and trims the stub makes on a path
// it built or was given.
#pragma once

#include <string>

// A drive's root or a share: never a name taken against the current directory or searched for.
[[nodiscard]] bool IsFullPath(const std::wstring& path);

std::wstring WithoutTrailingBackslashes(std::wstring path);
std::wstring WithTrailingBackslash(std::wstring path);

// "C:\x" for "\\?\C:\x" and "\\server\share" for "\\?\UNC\server\share", as Windows reports a
// file's final path.
std::wstring WithoutLongPathPrefix(const std::wstring& path);
