// Reading the deployment code and region out of the stub's own path. A stub renamed to
// "setup-ABCDEFGHIJKLus.exe" carries the code "ABCDEFGHIJKL" and the region "US".
#pragma once

#include <optional>
#include <string>
#include <string_view>

inline constexpr size_t kDeploymentCodeLength = 12;
inline constexpr size_t kRegionLength = 2;

struct DeploymentCode {
    std::wstring code;   // exactly 12 letters or digits, as they stand in the name
    std::wstring region; // 2 letters or digits with a to z upper-cased; empty when there is none
};

// Tells letters and digits from everything else. On Windows it is the system's Unicode
// classification, so accented and other non-ASCII letters and digits count.
using LetterOrDigitTest = bool (*)(wchar_t);

// The code follows the last "-" of the path, which must lie in the file name itself; the region is
// the two characters right after the code. No value when the path carries no well-formed code; a
// malformed region only leaves the region empty.
[[nodiscard]] std::optional<DeploymentCode> ParseDeploymentCode(std::wstring_view modulePath,
                                                                LetterOrDigitTest isLetterOrDigit);

// The "DCode" text: the code, followed by the region when there is one.
[[nodiscard]] std::wstring DeploymentCodeText(const DeploymentCode& deployment);
