#include "app/UnPackFileApp.h"

#include "util/SystemCalls.h"
#include "util/SystemLibrary.h"

namespace {

// Loaded by full path from the system directory, so that no later load of these names can pick
// up a planted copy from the current directory or the executable's folder (a downloaded installer
// usually sits in Downloads, next to whatever else was downloaded).
const wchar_t* const kSystemLibraries[] = {
    L"wtsapi32", L"version",  L"wldp",     L"propsys",  L"profapi",  L"vaultcli",
    L"edputil",  L"iertutil", L"netutils", L"srvcli",   L"urlmon",   L"sspicli",
    L"logoncli", L"wkscli",   L"samcli",   L"netapi32", L"cfgmgr32", L"TextShaping",
};

} // namespace

void CUnPackFileApp::SecureLibraryLoading() noexcept {
    // Looked up: Windows 7 without KB2533623 lacks it, and the preloading alone serves there.
    if (const SetDefaultDllDirectoriesFunction restrict = FindSetDefaultDllDirectories())
        restrict(LOAD_LIBRARY_SEARCH_SYSTEM32);
    PreloadSystemLibraries();
}

void CUnPackFileApp::PreloadSystemLibraries() noexcept {
    ::SetDllDirectoryW(L""); // takes the current directory out of the search order

    wchar_t path[MAX_PATH + 1];
    if (SystemDirectoryPath(L"winspool.drv", L"", path))
        g_os.LoadLibraryW(path);

    // Libraries missing on this Windows version simply stay unloaded.
    for (const wchar_t* name : kSystemLibraries) {
        ::SetDllDirectoryW(L"");
        if (SystemDirectoryPath(name, L".dll", path))
            g_os.LoadLibraryW(path);
    }
}
