#include "util/ProductMessage.h"

#include "res/resource.h"

std::wstring LoadResourceString(UINT id) {
    // With a zero length LoadStringW hands out a read-only pointer to the resource text itself.
    const wchar_t* text = nullptr;
    const int length =
        ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr)
        return std::wstring();
    return std::wstring(text, static_cast<size_t>(length));
}

void ShowProductMessage(const std::wstring& text, UINT style) noexcept {
    try {
        const std::wstring caption = LoadResourceString(IDS_PRODUCT_NAME);
        ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), style);
    } catch (...) {
        // No memory for the caption: there is no box to show either.
    }
}
