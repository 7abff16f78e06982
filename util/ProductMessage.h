// The program's message boxes: text from the string table, the product name as caption. A box is
// shown only where someone can see it: run by a deployment engine as SYSTEM, the process's window
// station is not the interactive one, and a box there would wait for an OK nobody can press.
#pragma once

#include <windows.h>

#include <string>

// The string resource `id` of the running executable; empty when it is missing.
std::wstring LoadResourceString(UINT id);

// Whether the process's window station is the visible, interactive one (WSF_VISIBLE).
[[nodiscard]] bool DesktopIsVisible() noexcept;

// A message box without owner window, captioned with the product name. Where no one can see it,
// or where the box cannot be shown at all (MessageBoxW fails), the text goes to the log as one
// line of `caller` (a qualified name) instead, and the run goes on as if OK had been pressed.
void ShowProductMessage(const std::wstring& text, UINT style, const wchar_t* caller);
