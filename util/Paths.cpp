#include "util/Utility.h"

#include <vector>

void CUtility::RemovePathComponents(std::wstring& path, int count) {
    for (int i = 0; i < count; ++i) {
        const size_t lastSeparator = path.rfind(L'\\');
        if (lastSeparator == std::wstring::npos)
            return;
        path.erase(lastSeparator);
    }
}

std::wstring CUtility::GetModulePath() {
    // Grows past MAX_PATH: a truncated path would name some other file.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return std::wstring();
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        if (buffer.size() >= 32768)
            return std::wstring();
        buffer.resize(buffer.size() * 2);
    }
}
