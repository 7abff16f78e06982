// Which of the two sibling product keys is in use. The machine's "QHSBasedType" says whether the
// logged-on user's "QHServerMode" may decide; where it may not, or where the user has none, the
// machine's "QHServerMode" decides. Every failed read counts as an absent key or value.
#include "registry/Registry.h"

#include "registry/ProductKeyRules.h"

namespace {

// The key that `root`'s own "QHServerMode" selects.
const wchar_t* ProductKeyChosenBy(HKEY root) {
    CRegistry registry;
    if (registry.SetRootKey(root) && registry.SetKeyDirect(kProductKeyPath, FALSE))
        return ProductKeyPathForServerMode(
            registry.ReadDword(kServerModeValue, kServerModeDefault));
    return kProductKeyPath;
}

const wchar_t* ChooseProductKey() {
    CRegistry registry;

    // Without the machine's product key "QHSBasedType" has its default. It is not looked for in
    // the root of HKEY_LOCAL_MACHINE, where a failed selection would otherwise leave the object.
    std::uint32_t basedType = kBasedTypeDefault;
    if (registry.SetRootKey(HKEY_LOCAL_MACHINE) && registry.SetKeyDirect(kProductKeyPath, FALSE))
        basedType = registry.ReadDword(kBasedTypeValue, kBasedTypeDefault);
    if (MachineDecidesAlone(basedType))
        return ProductKeyChosenBy(HKEY_LOCAL_MACHINE);

    // From here on every operation opens the hive of the user logged on to the session.
    registry.Reset();
    (void)registry.SetRootKey(HKEY_CURRENT_USER);
    if (!registry.KeyExists(kProductKeyPath))
        return ProductKeyChosenBy(HKEY_LOCAL_MACHINE);
    if (!registry.SetKeyDirect(kProductKeyPath, FALSE))
        return kProductKeyPath;
    if (!registry.ValueExists(kServerModeValue))
        return ProductKeyChosenBy(HKEY_LOCAL_MACHINE);
    return ProductKeyPathForServerMode(registry.ReadDword(kServerModeValue, kServerModeDefault));
}

} // namespace

std::wstring CRegistry::ResolveKeyPath(const std::wstring& path, HKEY rootHint) {
    if (!IsProductKeyPlaceholder(path))
        return path;
    return rootHint != nullptr ? ProductKeyChosenBy(rootHint) : ChooseProductKey();
}
