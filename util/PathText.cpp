#include "util/PathText.h"

bool IsFullPath(const std::wstring& path) {
    const bool drive = path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
    const bool share = path.size() >= 3 && path[0] == L'\\' && path[1] == L'\\';
    return drive || share;
}

std::wstring WithoutTrailingBackslashes(std::wstring path) {
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path;
}

std::wstring WithTrailingBackslash(std::wstring path) {
    if (!path.empty() && path.back() != L'\\')
        path += L'\\';
    return path;
}

std::wstring WithoutLongPathPrefix(const std::wstring& path) {
    if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0)
        return L"\\" + path.substr(7);
    return path.compare(0, 4, L"\\\\?\\") == 0 ? path.substr(4) : path;
}

std::wstring PathToHandOn(const std::wstring& finalPath) {
    constexpr std::size_t kMaxPath = 259; // MAX_PATH less its terminating zero
    const std::wstring path = WithoutLongPathPrefix(finalPath);
    return path.size() <= kMaxPath ? path : finalPath;
}

std::wstring LongPathForm(const std::wstring& path) {
    constexpr size_t kMaxPlainPath = 259; // MAX_PATH less the terminator
    if (path.size() <= kMaxPlainPath || !IsFullPath(path) || path.compare(0, 4, L"\\\\?\\") == 0)
        return path;
    if (path.compare(0, 2, L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + path.substr(2);
    return L"\\\\?\\" + path;
}
