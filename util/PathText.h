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

// The other way: "\\?\C:\x" for a full path "C:\x" too long for the plain form (260 characters
// and more), which the calls that take a path by text accept up to 32,767; any other path as it is.
std::wstring LongPathForm(const std::wstring& path);
