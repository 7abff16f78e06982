#include "util/RestartDeletion.h"

#include "util/SystemCalls.h"
#include "util/Utility.h"

void DeleteAtNextRestart(const std::vector<std::wstring>& paths, const wchar_t* source) {
    for (const std::wstring& path : paths) {
        if (g_os.MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT))
            CUtility::Log(L"[%s] Left until the next restart:%s", source, path.c_str());
        else
            CUtility::Log(L"[%s] Could not be deleted, nor left for the next restart:%s", source,
                          path.c_str());
    }
}
