// Names Windows does not create as given, whatever the folder: a device name opens the device, and
// a trailing dot or blank is dropped, so the file would get another name. Part of the entry name
// rule (package/EntryName.h), which the stub and the packing tool both apply.
#pragma once

#include <string_view>

namespace package {

// CON, PRN, AUX, NUL, COM1-9 and LPT1-9 in any case, with or without an extension, with blanks
// before the dot ("aux .txt"). A wide name also counts COM and LPT with the superscript digits
// U+00B9, U+00B2 and U+00B3, which Windows takes for 1, 2 and 3.
[[nodiscard]] bool IsReservedDeviceName(std::string_view name) noexcept;
[[nodiscard]] bool IsReservedDeviceName(std::wstring_view name) noexcept;

[[nodiscard]] bool EndsInDotOrBlank(std::string_view name) noexcept;
[[nodiscard]] bool EndsInDotOrBlank(std::wstring_view name) noexcept;

} // namespace package
