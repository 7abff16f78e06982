#include "app/LaunchBookkeeping.h"

#include "registry/ProductKeyRules.h"
#include "util/Utility.h"

#include <string>

bool SelectProductKey(CRegistry& registry) noexcept {
    return registry.SetRootKey(HKEY_LOCAL_MACHINE) &&
           registry.SetKey(kProductKeyPlaceholder, FALSE);
}

bool RecordLaunchStart(CRegistry& registry) noexcept {
    std::wstring utcText;
    try {
        utcText = CUtility::FormatTime(CUtility::LocalTimeToUtc(CUtility::GetCurrentLocalTime()));
    } catch (...) {
        return false; // no memory for the text: the launch goes ahead without it
    }
    return registry.WriteString(kStartTimeValue, utcText, REG_SZ) != 0;
}

bool RecordLaunchStatus(CRegistry& registry, bool launched) noexcept {
    return registry.WriteDword(kStatusValue, launched ? kLaunchedStatus : kNotLaunchedStatus) != 0;
}
