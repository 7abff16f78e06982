#include "util/RestartDeletion.h"

#include "util/PathText.h"
#include "util/SystemCalls.h"
#include "util/Utility.h"

void LeaveForLater(const std::vector<std::wstring>& paths, bool closedToUsers,
                   const wchar_t* source) {
    for (const std::wstring& path : paths) {
        if (!closedToUsers)
            CUtility::Log(L"[%s] Left for the next run to remove:%s", source, path.c_str());
        else if (g_os.MoveFileExW(LongPathForm(path).c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
            CUtility::Log(L"[%s] Left until the next restart:%s", source, path.c_str());
        else
            CUtility::Log(L"[%s] Could not be deleted, nor left for the next restart:%s", source,
                          path.c_str());
    }
}
