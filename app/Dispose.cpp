#include "app/Dispose.h"

#include "package/ExtractionFolder.h"
#include "package/UnPack.h"
#include "util/LogSources.h"
#include "util/RestartDeletion.h"
#include "util/SystemCalls.h"
#include "util/Utility.h"

#include <string>
#include <vector>

namespace {

using logsource::kInitInstance;

// A process that has just ended may hold the folder for a moment longer (its current directory,
// a file a child of it still has open): the deletion is tried again for up to two seconds. Wine
// lets go of an ended process's current directory some 250 ms later; trying every 10 ms ends the
// run as soon as the folder is free rather than up to a whole pause after.
constexpr DWORD kCleanupPauseMs = 10;
constexpr int kMaxCleanupRetries = 2000 / kCleanupPauseMs;

// Both folders, each tried whatever the other gives.
bool DeleteBoth(CUnPack& unpack, ExtractionFolder& installerTemp,
                std::vector<std::wstring>* leftovers) {
    const bool extraction = unpack.Cleanup(leftovers);
    return installerTemp.Delete(leftovers) && extraction;
}

} // namespace

void Dispose(CUnPack& unpack, ExtractionFolder& installerTemp, FolderUse use) {
    if (use == FolderUse::unused) {
        (void)DeleteBoth(unpack, installerTemp, nullptr);
        return;
    }
    for (int retries = 0; use == FolderUse::released && retries < kMaxCleanupRetries; ++retries) {
        if (DeleteBoth(unpack, installerTemp, nullptr))
            return;
        g_os.Sleep(kCleanupPauseMs);
    }
    std::vector<std::wstring> leftovers;
    if (DeleteBoth(unpack, installerTemp, &leftovers))
        return;
    for (const DWORD id : CUtility::ProcessesRunningFrom(unpack.Folder().Path()))
        CUtility::Log(L"[%s] Still running from the extraction folder: pid:%d %s", kInitInstance,
                      static_cast<int>(id), CUtility::ProcessImagePath(id).c_str());
    LeaveForLater(leftovers, unpack.Folder().RootClosedToUsers(), kInitInstance);
}
