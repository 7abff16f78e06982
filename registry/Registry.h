// CRegistry: the road to the product's registry values (the product key, the deployment code). An
// object holds a root and a key path below it; every read, write and test opens the key afresh,
// does one thing and closes it again, so an object can be kept across a long wait without holding a
// key open. (The machine's file classes, which the launch reads, are no product values:
// registry/FileAssociation.h.)
//
// The current-user root is the hive of the user logged on to the session, opened for each
// operation through a short impersonation of that user; the process's own hive serves only when
// that user's hive cannot be reached. Nothing here logs or throws: failures show in the results.
#pragma once

#include "framework/UniqueHandle.h"

#include <windows.h>

#include <string>

class CRegistry {
public:
    // Root HKEY_CURRENT_USER, empty key path (the root itself). Every key operation works in the
    // 32-bit view, which the stub, a 32-bit program, gets on 64-bit Windows; keys are never
    // flushed.
    CRegistry() noexcept = default;
    virtual ~CRegistry();

    CRegistry(const CRegistry&) = delete;
    CRegistry& operator=(const CRegistry&) = delete;

    // Empties the key path and sets the root to HKEY_CURRENT_USER. Keeps the last open status.
    // Returns 1.
    int Reset() noexcept;

    // 1 when `root` is HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE or HKEY_USERS,
    // which then becomes the root; 0 for anything else, which leaves the root as it was. The key
    // path is kept either way.
    [[nodiscard]] int SetRootKey(HKEY root) noexcept;

    // Selects the key: creates it (`create` nonzero) or opens it as existing below the root and
    // closes it again; on success `path` becomes the key path. An empty path selects the root
    // itself without opening anything. SetKey first resolves the product key placeholder
    // (ResolveKeyPath); SetKeyDirect takes the path literally. Only the open-existing mode records
    // its status as the last open status. On failure the key path stays as it was.
    [[nodiscard]] int SetKey(const std::wstring& path, BOOL create);
    [[nodiscard]] int SetKeyDirect(const std::wstring& path, BOOL create);

    // Write into the selected key, which is never created here. 1 when written.
    [[nodiscard]] int WriteDword(const std::wstring& name, DWORD value);
    // Stores the text with its terminating NUL, as a value of the given string type.
    [[nodiscard]] int WriteString(const std::wstring& name, const std::wstring& text,
                                  DWORD type = REG_SZ);

    // The value's bytes taken as a 32-bit number, whatever its registry type, when it is at most 4
    // bytes long (missing high bytes read as zero); `defaultValue` when the key or the value is
    // missing or the value is longer. `subKey`, when given, names a key below the selected one.
    [[nodiscard]] DWORD ReadDword(const std::wstring& name, DWORD defaultValue,
                                  const std::wstring& subKey = std::wstring()) const;

    // 1 when the selected key holds a value of that name. A key that the process may open only
    // for reading counts as missing.
    [[nodiscard]] int ValueExists(const std::wstring& name) const;
    // 1 when `path` can be opened with full access below `root`, or below the object's own root
    // when `root` is null. The path is taken literally, not relative to the key path. A root
    // handed in is used as it is and never closed.
    [[nodiscard]] int KeyExists(const std::wstring& path, HKEY root = nullptr) const;

    // The key path to select for `path`: the product key in use for the placeholder
    // "UNIVERSAL_PATH_CONVERT" (in any case of A to Z), any other path unchanged. With a root
    // hint only that root's "QHServerMode" decides. Empty only when memory ran out.
    [[nodiscard]] static std::wstring ResolveKeyPath(const std::wstring& path,
                                                     HKEY rootHint = nullptr);

    [[nodiscard]] HKEY GetRootKey() const noexcept { return rootKey_; }
    [[nodiscard]] const std::wstring& GetKeyPath() const noexcept { return keyPath_; }
    [[nodiscard]] LONG GetLastOpenStatus() const noexcept { return lastOpenStatus_; }

private:
    // The root to use for one operation: the predefined root itself, or for HKEY_CURRENT_USER the
    // logged-on user's hive (the owner closes it; a predefined root is never closed).
    [[nodiscard]] UniqueRootKey GetRootHandle() const;
    [[nodiscard]] REGSAM Access(REGSAM mask) const noexcept;
    [[nodiscard]] int SelectKey(HKEY root, const std::wstring& path, BOOL create);
    [[nodiscard]] UniqueKey OpenKey(REGSAM mask) const;

    LONG lastOpenStatus_ = ERROR_SUCCESS;
    HKEY rootKey_ = HKEY_CURRENT_USER;
    std::wstring keyPath_;
};
