#include "Utility.h"

#include <ctime>
#include <cwchar>

std::wstring CUtility::FormatTime(std::int64_t time) {
    const __time64_t value = time;
    tm local = {};
    if (_localtime64_s(&local, &value) != 0)
        return std::wstring();
    wchar_t text[128] = {};
    if (wcsftime(text, 128, L"%Y-%m-%d %H:%M:%S", &local) == 0)
        return std::wstring();
    return text;
}
