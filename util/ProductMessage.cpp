#include "util/ProductMessage.h"

#include "res/resource.h"
#include "util/SystemCalls.h"
#include "util/Utility.h"

std::wstring LoadResourceString(UINT id) {
    // With a zero length LoadStringW hands out a read-only pointer to the resource text itself.
    const wchar_t* text = nullptr;
    const int length =
        ::LoadStringW(::GetModuleHandleW(nullptr), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr)
        return std::wstring();
    return std::wstring(text, static_cast<size_t>(length));
}

bool DesktopIsVisible() noexcept {
    // The station is the process's, not a handle to close.
    const HWINSTA station = ::GetProcessWindowStation();
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (station == nullptr ||
        !g_os.GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed))
        return true; // cannot tell: the box is shown, as where the station is not asked
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

void ShowProductMessage(const std::wstring& text, UINT style, const wchar_t* caller) {
    if (!DesktopIsVisible()) {
        CUtility::Log(L"[%s] No visible desktop, not shown: %s", caller, text.c_str());
        return;
    }
    const std::wstring caption = LoadResourceString(IDS_PRODUCT_NAME);
    // Windows says a failure with 0; Wine, whose box is a dialog, with the dialog's -1.
    if (::MessageBoxW(nullptr, text.c_str(), caption.c_str(), style) <= 0) {
        // A box that never appeared (1400 where there is no display) would leave the run's end
        // unexplained: its text goes to the log as where nobody sees it.
        const DWORD error = ::GetLastError();
        CUtility::Log(L"[%s] The box could not be shown (error %u): %s", caller,
                      static_cast<unsigned>(error), text.c_str());
    }
}
