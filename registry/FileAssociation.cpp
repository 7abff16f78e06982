#include "registry/FileAssociation.h"

#include <windows.h>

#include <vector>

namespace {

// A key's default string, taken as it is stored; empty when there is none.
std::wstring DefaultString(const std::wstring& path, const Environment& machine) {
    constexpr DWORD kFlags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    DWORD size = 0;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), nullptr, kFlags, nullptr, nullptr,
                       &size) != ERROR_SUCCESS ||
        size < sizeof(wchar_t))
        return std::wstring();
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1);
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    DWORD type = REG_NONE;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, path.c_str(), nullptr, kFlags, &type, text.data(),
                       &size) != ERROR_SUCCESS)
        return std::wstring();
    return type == REG_EXPAND_SZ ? ExpandVariables(text.data(), machine) : text.data();
}

} // namespace

std::wstring MachineOpenCommand(const std::wstring& extension, const Environment& machine) {
    if (extension.empty())
        return std::wstring();
    const std::wstring classes = L"Software\\Classes\\";
    const std::wstring className = DefaultString(classes + extension, machine);
    const std::wstring key = classes + (className.empty() ? extension : className);
    return DefaultString(key + L"\\shell\\open\\command", machine);
}
