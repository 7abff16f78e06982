// The extraction folder's name in the directory it lies in. Where that directory is the machine's,
// any user may have taken "unpack" first: the run then extracts into a folder of a name nobody can
// guess, "unpack." and sixteen hexadecimal digits of a random number.
#pragma once

#include <cstdint>
#include <string>

namespace package {

inline constexpr wchar_t kFolderName[] = L"unpack";

// "unpack.0123456789abcdef" for the random number.
std::wstring FreshFolderName(std::uint64_t random);

// Whether `name` is one a run of the stub gives its folder: "unpack", or a fresh name, in any
// case (Windows compares names without case).
bool IsRunFolderName(const std::wstring& name);

} // namespace package
