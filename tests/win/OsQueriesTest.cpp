// OS version queries against the versions Wine reports. Wine answers with the version configured
// for an executable's name, so each case runs a copy of this binary under a name of its own.
#include "TestSupport.h"

#include "app/UnPackFileApp.h"
#include "framework/UniqueHandle.h"
#include "util/SystemLibrary.h"
#include "util/Utility.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

namespace {

// --- Children: they report through their exit code -------------------------------------------

FARPROC WINAPI WithoutRtlGetVersion(HMODULE module, LPCSTR name) {
    if (std::string(name) == "RtlGetVersion")
        return nullptr;
    return ::GetProcAddress(module, name);
}

LONG WINAPI FailingRtlGetVersion(OSVERSIONINFOEXW*) {
    return static_cast<LONG>(0xC0000001);
}

FARPROC WINAPI WithoutIsWow64Process(HMODULE module, LPCSTR name) {
    if (std::string(name) == "IsWow64Process")
        return nullptr;
    return ::GetProcAddress(module, name);
}

FARPROC WINAPI WithFailingRtlGetVersion(HMODULE module, LPCSTR name) {
    if (std::string(name) == "RtlGetVersion")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&FailingRtlGetVersion));
    return ::GetProcAddress(module, name);
}

BOOL WINAPI FailingGetVersionEx(LPOSVERSIONINFOW record) {
    // Leaves junk behind, as a failed call may.
    record->dwMajorVersion = 0xDEADBEEF;
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

const ChildRegistration osClass(L"os-class", [] { return CUtility::GetOSVersionClass(); });
const ChildRegistration legacyClass(L"os-legacy-class",
                                    [] { return CUtility::GetLegacyOSVersionClass(); });
const ChildRegistration withoutRtl(L"os-class-without-rtl", [] {
    g_os.GetProcAddress = WithoutRtlGetVersion;
    return CUtility::GetOSVersionClass();
});
const ChildRegistration failingRtl(L"os-class-failing-rtl", [] {
    g_os.GetProcAddress = WithFailingRtlGetVersion;
    return CUtility::GetOSVersionClass();
});
const ChildChecks kNoVersion = {"the class is 0", "the record's version is zeroed",
                                "the record's size is set"};
const ChildRegistration noVersion(L"os-class-no-version", [] {
    g_os.GetProcAddress = WithoutRtlGetVersion;
    g_os.GetVersionExW = FailingGetVersionEx;
    OSVERSIONINFOEXW record;
    std::memset(&record, 0xAB, sizeof record);
    const int result = CUtility::GetOSVersionClass(&record);
    return kNoVersion.ExitCode(
        {result == 0, record.dwMajorVersion == 0, record.dwOSVersionInfoSize == 284});
});
const ChildRegistration preVista(L"pre-vista", [] { return CUtility::IsPreVista(); });
const ChildRegistration preVistaNoVersion(L"pre-vista-no-version", [] {
    g_os.GetVersionExW = FailingGetVersionEx;
    return CUtility::IsPreVista();
});
const ChildRegistration osInfo(L"os-info", [] {
    CUtility::OSInfo();
    return 0;
});

// --- Parent side --------------------------------------------------------------------------

// Runs `child` in a copy of this binary for which Wine reports `version` ("" for its default).
class VersionedRun {
public:
    explicit VersionedRun(const std::wstring& version)
        : name_(L"osq-" + (version.empty() ? std::wstring(L"default") : version) + L".exe"),
          path_(TempDir() + name_), key_(L"Software\\Wine\\AppDefaults\\" + name_) {
        ::CopyFileW(ThisExecutable().c_str(), path_.c_str(), FALSE);
        if (!version.empty())
            ::RegSetKeyValueW(HKEY_CURRENT_USER, key_.c_str(), L"Version", REG_SZ, version.c_str(),
                              static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t)));
    }
    ~VersionedRun() {
        ::RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str());
        ::RegDeleteKeyW(HKEY_CURRENT_USER, key_.c_str());
        ::DeleteFileW(path_.c_str());
    }
    int operator()(const std::wstring& child) const { return SpawnChildFrom(path_, child); }

private:
    std::wstring name_;
    std::wstring path_;
    std::wstring key_;
};

TEST(OsVersionClass, FollowsTheReportedRelease) {
    const struct {
        const wchar_t* version;
        int trueClass;
        int legacyClass;
    } cases[] = {
        {L"", 2, 2},      // Wine's default: Windows 7 SP1
        {L"vista", 1, 1}, //
        {L"winxp", 0, 0}, //
        {L"win8", 3, 3},  //
        {L"win81", 4, 3}, // only RtlGetVersion tells 8.1 from 8
        {L"win10", 5, 3}, //
    };
    for (const auto& c : cases) {
        const VersionedRun run(c.version);
        EXPECT_EQ(run(L"os-class"), c.trueClass) << Narrow(c.version);
        EXPECT_EQ(run(L"os-legacy-class"), c.legacyClass) << Narrow(c.version);
        EXPECT_EQ(run(L"os-class-without-rtl"), c.legacyClass) << Narrow(c.version);
        EXPECT_EQ(run(L"os-class-failing-rtl"), c.legacyClass) << Narrow(c.version);
    }
}

TEST(OsVersionClass, NoVersionAtAllIsClassZeroWithAZeroedRecord) {
    const int code = VersionedRun(L"")(L"os-class-no-version");
    EXPECT_EQ(code, 0) << kNoVersion.Failed(code);
}

TEST(IsPreVista, AsksForTheMajorVersion) {
    EXPECT_EQ(VersionedRun(L"")(L"pre-vista"), 0);
    EXPECT_EQ(VersionedRun(L"vista")(L"pre-vista"), 0);
    EXPECT_EQ(VersionedRun(L"winxp")(L"pre-vista"), 1);
    EXPECT_EQ(VersionedRun(L"win10")(L"pre-vista-no-version"), 1)
        << "a failed query keeps the plain command processor";
}

TEST(IsWow64, IsSetForA32BitProcessInA64BitPrefix) {
    EXPECT_EQ(CUtility::IsWow64(), kExpectedWow64);
    SystemCallsScope calls;
    g_os.GetProcAddress = WithoutIsWow64Process;
    EXPECT_EQ(CUtility::IsWow64(), 0);
}

std::wstring LastLogMessage() {
    const std::vector<unsigned char> bytes = ReadBytes(TempDir() + L"unpack.log");
    std::wstring text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
    const size_t end = text.rfind(L" (Last=");
    const size_t start = text.rfind(L"  [", end);
    return end == std::wstring::npos || start == std::wstring::npos
               ? std::wstring()
               : text.substr(start + 2, end - start - 2);
}

TEST(OsInfo, LogsVersionBuildServicePackAndWow64) {
    const std::wstring log = TempDir() + L"unpack.log";
    ::DeleteFileW(log.c_str());
    EXPECT_EQ(VersionedRun(L"")(L"os-info"), 0);
    EXPECT_EQ(LastLogMessage(), L"[CUtility::OSInfo] OS 6.1(7601) Service Pack 1 x64:" +
                                    std::to_wstring(kExpectedWow64));

    ::DeleteFileW(log.c_str());
    EXPECT_EQ(VersionedRun(L"win10")(L"os-info"), 0);
    const std::wstring line = LastLogMessage();
    // Windows 10 has no service pack: two blanks before "x64:".
    const std::wstring head = L"[CUtility::OSInfo] OS 10.0(";
    ASSERT_EQ(line.compare(0, head.size(), head), 0) << Narrow(line);
    const size_t close = line.find(L')', head.size());
    ASSERT_NE(close, std::wstring::npos);
    const std::wstring build = line.substr(head.size(), close - head.size());
    ASSERT_FALSE(build.empty());
    for (wchar_t c : build)
        EXPECT_TRUE(std::iswdigit(c)) << Narrow(line);
    EXPECT_EQ(line.substr(close), L")  x64:" + std::to_wstring(kExpectedWow64));
    ::DeleteFileW(log.c_str());
}

// --- Libraries come from the system directory ----------------------------------------------

std::vector<std::wstring> g_loadingCalls;

BOOL WINAPI RecordedSetDefaultDllDirectories(DWORD flags) {
    g_loadingCalls.push_back(L"SetDefaultDllDirectories " + std::to_wstring(flags));
    return TRUE; // not passed on: this test process keeps its own search order
}
FARPROC WINAPI OfferingSetDefaultDllDirectories(HMODULE module, LPCSTR name) {
    if (std::string(name) == "SetDefaultDllDirectories")
        return reinterpret_cast<FARPROC>(
            reinterpret_cast<void*>(&RecordedSetDefaultDllDirectories));
    return ::GetProcAddress(module, name);
}
FARPROC WINAPI WithoutSetDefaultDllDirectories(HMODULE module, LPCSTR name) {
    if (std::string(name) == "SetDefaultDllDirectories")
        return nullptr;
    return ::GetProcAddress(module, name);
}
HMODULE WINAPI RecordedLoadLibrary(LPCWSTR path) {
    g_loadingCalls.push_back(L"LoadLibrary " + std::wstring(path));
    return ::LoadLibraryW(path);
}

std::wstring SystemDirectory() {
    wchar_t system[MAX_PATH + 1] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    return std::wstring(system) + L"\\";
}

class LibraryLoading : public testing::Test {
protected:
    void SetUp() override {
        g_loadingCalls.clear();
        g_os.LoadLibraryW = RecordedLoadLibrary;
        // Set beforehand, so that only the preloading can take the current directory out.
        ::SetDllDirectoryW(L"C:\\windows");
    }

    // Every library loaded is named by its path in the system directory and, where this Windows
    // has it, is the one loaded; the current directory is out of the search order.
    void ExpectEveryLoadFromTheSystemDirectory() {
        size_t loads = 0;
        for (const std::wstring& call : g_loadingCalls) {
            if (call.rfind(L"LoadLibrary ", 0) != 0)
                continue;
            ++loads;
            const std::wstring path = call.substr(12);
            EXPECT_EQ(::CompareStringOrdinal(path.c_str(),
                                             static_cast<int>(SystemDirectory().size()),
                                             SystemDirectory().c_str(), -1, TRUE),
                      CSTR_EQUAL)
                << Narrow(path);
            if (!Exists(path))
                continue; // not part of this Windows: it stays unloaded
            wchar_t loaded[MAX_PATH + 1] = {};
            ::GetModuleFileNameW(::GetModuleHandleW(path.c_str()), loaded, MAX_PATH);
            EXPECT_EQ(::lstrcmpiW(loaded, path.c_str()), 0) << Narrow(loaded);
        }
        EXPECT_GT(loads, 0u);
        wchar_t directory[16] = L"junk";
        EXPECT_EQ(::GetDllDirectoryW(16, directory), 0u);
        EXPECT_EQ(std::wstring(directory), L"");
    }

    SystemCallsScope seams_;
};

TEST_F(LibraryLoading, TheSearchIsRestrictedToTheSystemDirectoryBeforeAnythingIsLoaded) {
    g_os.GetProcAddress = OfferingSetDefaultDllDirectories;
    CUnPackFileApp::SecureLibraryLoading();
    ASSERT_FALSE(g_loadingCalls.empty());
    EXPECT_EQ(g_loadingCalls.front(),
              L"SetDefaultDllDirectories " + std::to_wstring(LOAD_LIBRARY_SEARCH_SYSTEM32));
    ExpectEveryLoadFromTheSystemDirectory();
}

TEST_F(LibraryLoading, WithoutTheRestrictionEveryLoadNamesTheSystemDirectory) {
    g_os.GetProcAddress = WithoutSetDefaultDllDirectories;
    CUnPackFileApp::SecureLibraryLoading();
    const HMODULE userenv = LoadSystemLibrary(L"userenv.dll"); // as the launch loads it
    ExpectEveryLoadFromTheSystemDirectory();
    EXPECT_NE(userenv, nullptr);
    EXPECT_EQ(g_loadingCalls.back(), L"LoadLibrary " + SystemDirectory() + L"userenv.dll");
}

} // namespace
