#include "app/RunFailure.h"

#include "app/RunEndLog.h"
#include "app/RunOutcome.h"
#include "package/ImageSettings.h"
#include "util/LogSources.h"
#include "util/Utility.h"

#include <windows.h>

void EndRunAsFailed() noexcept {
    // The log line needs memory of its own: should it run out there too, this is reached again,
    // and then ends the process at once.
    static volatile LONG ending = 0;
    const bool passOn = package::ImageSettings().exitCode == package::ExitCodeChoice::installer;
    const UINT exitCode = passOn ? kInstallFailure : 0;
    if (::InterlockedExchange(&ending, 1) == 0) {
        ::OutputDebugStringW(L"Out of memory: the run ends as failed");
        CUtility::Log(L"[%s] Out of memory: the run ends as failed", logsource::kInitInstance);
        // Whether the installer ran is not known here: the run is cut short wherever it was.
        LogRunEnd(L"run cut short (out of memory)", exitCode);
    }
    ::TerminateProcess(::GetCurrentProcess(), exitCode);
    ::ExitProcess(exitCode); // never reached: termination does not return
}
