#include "RegistryTestSupport.h"

#include "framework/UniqueHandle.h"

#include <aclapi.h>

RawValue ReadRawValue(HKEY root, const std::wstring& path, const std::wstring& name, REGSAM view) {
    RawValue value;
    HKEY opened = nullptr;
    value.status = ::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &opened);
    if (value.status != ERROR_SUCCESS)
        return value;
    const UniqueKey key(opened);
    DWORD size = 0;
    value.status =
        ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, nullptr, &size);
    if (value.status != ERROR_SUCCESS)
        return value;
    value.data.assign(size, 0xCC);
    value.status =
        ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, value.data.data(), &size);
    value.data.resize(size);
    return value;
}

bool RawKeyExists(HKEY root, const std::wstring& path, REGSAM view) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS)
        return false;
    const UniqueKey key(opened);
    return true;
}

std::vector<std::wstring> RawValueNames(HKEY root, const std::wstring& path, REGSAM view) {
    std::vector<std::wstring> names;
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_QUERY_VALUE | view, &opened) != ERROR_SUCCESS)
        return names;
    const UniqueKey key(opened);
    for (DWORD i = 0;; ++i) {
        wchar_t name[256] = {};
        DWORD length = 256;
        if (::RegEnumValueW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

LONG CreateRawKey(HKEY root, const std::wstring& path, DWORD options) {
    HKEY created = nullptr;
    const LONG status = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, options,
                                          KEY_ALL_ACCESS | kStubView, nullptr, &created, nullptr);
    const UniqueKey key(created);
    return status;
}

LONG SetRawValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
                 const void* data, DWORD size) {
    HKEY created = nullptr;
    LONG status = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kStubView,
                                    nullptr, &created, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    const UniqueKey key(created);
    return ::RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), size);
}

LONG SetRawDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value) {
    return SetRawValue(root, path, name, REG_DWORD, &value, sizeof value);
}

LONG SetRawString(HKEY root, const std::wstring& path, const std::wstring& name,
                  const std::wstring& text) {
    return SetRawValue(root, path, name, REG_SZ, text.c_str(),
                       static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

void DeleteRawTree(HKEY root, const std::wstring& path, REGSAM view) {
    if (view == kStubView)
        (void)GrantEveryoneOnly(root, path, KEY_ALL_ACCESS);
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_ALL_ACCESS | view, &opened) != ERROR_SUCCESS)
        return;
    {
        const UniqueKey key(opened);
        ::RegDeleteTreeW(key.get(), nullptr);
    }
    ::RegDeleteKeyExW(root, path.c_str(), view, 0);
}

void DeleteRawValue(HKEY root, const std::wstring& path, const std::wstring& name) {
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_SET_VALUE | kStubView, &opened) != ERROR_SUCCESS)
        return;
    const UniqueKey key(opened);
    ::RegDeleteValueW(key.get(), name.c_str());
}

LONG GrantEveryoneOnly(HKEY root, const std::wstring& path, REGSAM access) {
    // The owner may always change the access list, even of a key it cannot otherwise use.
    HKEY opened = nullptr;
    LONG status = ::RegOpenKeyExW(root, path.c_str(), 0, WRITE_DAC | kStubView, &opened);
    if (status != ERROR_SUCCESS)
        return status;
    const UniqueKey key(opened);

    BYTE sidBuffer[SECURITY_MAX_SID_SIZE] = {};
    DWORD sidSize = sizeof sidBuffer;
    if (!::CreateWellKnownSid(WinWorldSid, nullptr, sidBuffer, &sidSize))
        return static_cast<LONG>(::GetLastError());

    EXPLICIT_ACCESSW entry = {};
    entry.grfAccessPermissions = access;
    entry.grfAccessMode = SET_ACCESS;
    entry.grfInheritance = NO_INHERITANCE;
    entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
    entry.Trustee.ptstrName = reinterpret_cast<LPWSTR>(sidBuffer);
    PACL acl = nullptr;
    status = static_cast<LONG>(::SetEntriesInAclW(1, &entry, nullptr, &acl));
    if (status != ERROR_SUCCESS)
        return status;

    SECURITY_DESCRIPTOR descriptor;
    ::InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    ::SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE);
    status = ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, &descriptor);
    ::LocalFree(acl);
    return status;
}

bool RegistryEnforcesReadOnlyKeys(HKEY root, const std::wstring& scratchParent) {
    const std::wstring scratch = scratchParent + L"\\read-only-probe";
    if (CreateRawKey(root, scratch) != ERROR_SUCCESS ||
        GrantEveryoneOnly(root, scratch, KEY_READ) != ERROR_SUCCESS) {
        DeleteRawTree(root, scratch);
        return false;
    }
    HKEY opened = nullptr;
    const LONG status =
        ::RegOpenKeyExW(root, scratch.c_str(), 0, KEY_ALL_ACCESS | kStubView, &opened);
    const UniqueKey key(status == ERROR_SUCCESS ? opened : nullptr);
    DeleteRawTree(root, scratch);
    return status == ERROR_ACCESS_DENIED;
}

std::vector<BYTE> Utf16Bytes(const std::wstring& text) {
    const BYTE* begin = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(begin, begin + (text.size() + 1) * sizeof(wchar_t));
}

std::vector<BYTE> DwordBytes(DWORD value) {
    const BYTE* begin = reinterpret_cast<const BYTE*>(&value);
    return std::vector<BYTE>(begin, begin + sizeof value);
}

bool ThreadIsImpersonating(DWORD* error) {
    HANDLE opened = nullptr;
    if (!::OpenThreadToken(::GetCurrentThread(), TOKEN_QUERY, TRUE, &opened)) {
        if (error != nullptr)
            *error = ::GetLastError();
        return false;
    }
    const UniqueHandle token(opened);
    return true;
}
