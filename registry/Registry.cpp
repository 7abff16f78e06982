#include "registry/Registry.h"

#include "util/ImpersonateUser.h"

#include <cstring>
#include <limits>

namespace {

// The stub is a 32-bit program: on 64-bit Windows it gets the 32-bit view without asking. A
// 64-bit build of the same sources (the tests run on one where the host cannot execute 32-bit
// code) asks for that view, so that it reads and writes the very keys the stub does.
constexpr REGSAM kStubView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : 0;

} // namespace

CRegistry::~CRegistry() {
    Reset();
}

int CRegistry::Reset() noexcept {
    keyPath_.clear();
    rootKey_ = HKEY_CURRENT_USER;
    return 1;
}

int CRegistry::SetRootKey(HKEY root) noexcept {
    if (!handle_traits::RegistryRoot::IsPredefined(root))
        return 0;
    rootKey_ = root;
    return 1;
}

REGSAM CRegistry::Access(REGSAM mask) const noexcept {
    return mask | kStubView;
}

UniqueRootKey CRegistry::GetRootHandle() const {
    if (rootKey_ != HKEY_CURRENT_USER)
        return UniqueRootKey(rootKey_);

    // The hive is opened as the desktop user and then used under the process's own token: the
    // impersonation ends with this block, before any key below the hive is touched.
    HKEY hive = nullptr;
    {
        const CImpersonateUser user;
        if (::RegOpenCurrentUser(KEY_ALL_ACCESS, &hive) != ERROR_SUCCESS)
            hive = nullptr;
    }
    return UniqueRootKey(hive != nullptr ? hive : HKEY_CURRENT_USER);
}

UniqueKey CRegistry::OpenKey(REGSAM mask) const {
    const UniqueRootKey root = GetRootHandle();
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root.get(), keyPath_.c_str(), 0, Access(mask), &opened) != ERROR_SUCCESS)
        return UniqueKey();
    return UniqueKey(opened);
}

int CRegistry::SelectKey(HKEY root, const std::wstring& path, BOOL create) {
    HKEY opened = nullptr;
    if (create) {
        if (::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                              Access(KEY_ALL_ACCESS), nullptr, &opened, nullptr) != ERROR_SUCCESS)
            return 0;
    } else {
        lastOpenStatus_ = ::RegOpenKeyExW(root, path.c_str(), 0, Access(KEY_READ), &opened);
        if (lastOpenStatus_ != ERROR_SUCCESS)
            return 0;
    }
    const UniqueKey key(opened);
    keyPath_ = path;
    return 1;
}

int CRegistry::SetKey(const std::wstring& path, BOOL create) {
    if (path.empty()) {
        keyPath_.clear();
        return 1;
    }
    const UniqueRootKey root = GetRootHandle();
    const std::wstring resolved = ResolveKeyPath(path);
    if (resolved.empty())
        return 0;
    return SelectKey(root.get(), resolved, create);
}

int CRegistry::SetKeyDirect(const std::wstring& path, BOOL create) {
    if (path.empty()) {
        keyPath_.clear();
        return 1;
    }
    const UniqueRootKey root = GetRootHandle();
    return SelectKey(root.get(), path, create);
}

int CRegistry::WriteDword(const std::wstring& name, DWORD value) {
    const UniqueKey key = OpenKey(KEY_WRITE);
    if (!key)
        return 0;
    const LONG status = ::RegSetValueExW(key.get(), name.c_str(), 0, REG_DWORD,
                                         reinterpret_cast<const BYTE*>(&value), sizeof value);
    return status == ERROR_SUCCESS ? 1 : 0;
}

int CRegistry::WriteString(const std::wstring& name, const std::wstring& text, DWORD type) {
    // The stored data includes the terminating NUL: (length + 1) UTF-16 units.
    if (text.size() >= std::numeric_limits<DWORD>::max() / sizeof(wchar_t))
        return 0;
    const DWORD bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));

    const UniqueKey key = OpenKey(KEY_WRITE);
    if (!key)
        return 0;
    const LONG status = ::RegSetValueExW(key.get(), name.c_str(), 0, type,
                                         reinterpret_cast<const BYTE*>(text.c_str()), bytes);
    return status == ERROR_SUCCESS ? 1 : 0;
}

DWORD CRegistry::ReadDword(const std::wstring& name, DWORD defaultValue,
                           const std::wstring& subKey) const {
    std::wstring path;
    path = keyPath_;
    if (!subKey.empty())
        path += L'\\' + subKey;

    const UniqueRootKey root = GetRootHandle();
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root.get(), path.c_str(), 0, Access(KEY_READ), &opened) != ERROR_SUCCESS)
        return defaultValue;
    const UniqueKey key(opened);

    // A value shorter than 4 bytes fills only the low bytes; the high bytes stay zero.
    BYTE data[sizeof(DWORD)] = {};
    DWORD size = sizeof data;
    DWORD type = REG_NONE;
    if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &type, data, &size) != ERROR_SUCCESS)
        return defaultValue;
    DWORD value = 0;
    std::memcpy(&value, data, sizeof value);
    return value;
}

int CRegistry::ValueExists(const std::wstring& name) const {
    const UniqueKey key = OpenKey(KEY_ALL_ACCESS);
    if (!key)
        return 0;
    return ::RegQueryValueExW(key.get(), name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
                   ERROR_SUCCESS
               ? 1
               : 0;
}

int CRegistry::KeyExists(const std::wstring& path, HKEY root) const {
    UniqueRootKey ownRoot;
    if (root == nullptr) {
        ownRoot = GetRootHandle();
        root = ownRoot.get();
    }
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(root, path.c_str(), 0, Access(KEY_ALL_ACCESS), &opened) != ERROR_SUCCESS)
        return 0;
    const UniqueKey key(opened);
    return 1;
}
