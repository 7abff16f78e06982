#include "util/Utility.h"

#include "util/LogSources.h"
#include "util/OsVersionClass.h"
#include "util/SystemCalls.h"

#include <cstring>

namespace {

static_assert(sizeof(OSVERSIONINFOEXW) == 284, "the version record is 284 bytes");
static_assert(sizeof(OSVERSIONINFOW) == 276, "the short version record is 276 bytes");

using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);

OSVERSIONINFOEXW EmptyRecord() {
    OSVERSIONINFOEXW record;
    std::memset(&record, 0, sizeof record);
    record.dwOSVersionInfoSize = sizeof record;
    return record;
}

void CopyOut(const OSVERSIONINFOEXW& record, OSVERSIONINFOEXW* out) {
    if (out != nullptr)
        std::memcpy(out, &record, sizeof record);
}

} // namespace

int CUtility::GetOSVersionClass(OSVERSIONINFOEXW* record) noexcept {
    const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void*>(
        g_os.GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    if (rtlGetVersion != nullptr) {
        OSVERSIONINFOEXW version = EmptyRecord();
        if (rtlGetVersion(&version) == 0) {
            CopyOut(version, record);
            return ClassFromTrueVersion(VersionKey(version.dwMajorVersion, version.dwMinorVersion));
        }
    }
    return GetLegacyOSVersionClass(record);
}

int CUtility::GetLegacyOSVersionClass(OSVERSIONINFOEXW* record) noexcept {
    OSVERSIONINFOEXW version = EmptyRecord();
    if (!g_os.GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version))) {
        // A failed query may leave anything behind; it counts as no version at all.
        version = EmptyRecord();
    }
    CopyOut(version, record);
    return ClassFromLegacyVersion(VersionKey(version.dwMajorVersion, version.dwMinorVersion));
}

void CUtility::OSInfo() noexcept {
    OSVERSIONINFOEXW version = EmptyRecord();
    (void)GetOSVersionClass(&version);
    const int wow64 = IsWow64();
    Log(L"[%s] OS %d.%d(%d) %s x64:%d", logsource::kOSInfo,
        static_cast<int>(version.dwMajorVersion), static_cast<int>(version.dwMinorVersion),
        static_cast<int>(version.dwBuildNumber), version.szCSDVersion, wow64);
}

int CUtility::IsPreVista() noexcept {
    // A failed query leaves the record zeroed: major version 0, so the answer is 1 and the
    // caller keeps the plain command processor.
    OSVERSIONINFOW version;
    std::memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    if (!g_os.GetVersionExW(&version))
        std::memset(&version, 0, sizeof version);
    return version.dwMajorVersion < 6 ? 1 : 0;
}

int CUtility::IsWow64() noexcept {
    using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
    const auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void*>(
        g_os.GetProcAddress(::GetModuleHandleW(L"kernel32"), "IsWow64Process")));
    if (isWow64Process == nullptr)
        return 0;
    BOOL wow64 = FALSE;
    if (!isWow64Process(::GetCurrentProcess(), &wow64))
        return 0;
    return wow64 ? 1 : 0;
}
