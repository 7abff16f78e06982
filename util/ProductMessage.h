// The program's message boxes: text from the string table, the product name as caption.
#pragma once

#include <windows.h>

#include <string>

// The string resource `id` of the running executable; empty when it is missing.
std::wstring LoadResourceString(UINT id);

// A message box without owner window, captioned with the product name.
void ShowProductMessage(const std::wstring& text, UINT style) noexcept;
