// The decisions behind the product key: which text names it, and which of the two sibling keys a
// server mode selects. The registry reads that feed them are in ProductKey.cpp.
#pragma once

#include <cstdint>
#include <string_view>

// Callers name the product key in use by this text; it is matched against the whole path,
// ignoring the case of A to Z only.
inline constexpr wchar_t kProductKeyPlaceholder[] = L"UNIVERSAL_PATH_CONVERT";

inline constexpr wchar_t kProductKeyPath[] = L"Software\\Tovari Inc.\\Tovari Remote Server";
inline constexpr wchar_t kBusinessKeyPath[] =
    L"Software\\Tovari Inc.\\Tovari Remote Server for Business";

// Machine side: 1 (also when missing or unreadable) lets only the machine's server mode decide.
inline constexpr wchar_t kBasedTypeValue[] = L"QHSBasedType";
inline constexpr std::uint32_t kBasedTypeDefault = 1;
// Either side: 1 selects the business key, anything else the product key.
inline constexpr wchar_t kServerModeValue[] = L"QHServerMode";
inline constexpr std::uint32_t kServerModeDefault = 0;

[[nodiscard]] bool IsProductKeyPlaceholder(std::wstring_view path) noexcept;

// True when the machine's "QHSBasedType" keeps the user's "QHServerMode" out of the decision.
[[nodiscard]] constexpr bool MachineDecidesAlone(std::uint32_t basedType) noexcept {
    return basedType == 1;
}

// The key path that the deciding "QHServerMode" selects.
[[nodiscard]] const wchar_t* ProductKeyPathForServerMode(std::uint32_t serverMode) noexcept;
