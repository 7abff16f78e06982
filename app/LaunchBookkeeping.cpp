#include "app/LaunchBookkeeping.h"

#include "registry/ProductKeyRules.h"
#include "util/Utility.h"

#include <string>

bool SelectProductKey(CRegistry& registry) {
    return registry.SetRootKey(HKEY_LOCAL_MACHINE) &&
           registry.SetKey(kProductKeyPlaceholder, FALSE);
}

bool RecordLaunchStart(CRegistry& registry) {
    const std::wstring utcText =
        CUtility::FormatTime(CUtility::LocalTimeToUtc(CUtility::GetCurrentLocalTime()));
    return registry.WriteString(kStartTimeValue, utcText, REG_SZ) != 0;
}

bool RecordLaunchStatus(CRegistry& registry, bool launched) noexcept {
    return registry.WriteDword(kStatusValue, launched ? kLaunchedStatus : kNotLaunchedStatus) != 0;
}
