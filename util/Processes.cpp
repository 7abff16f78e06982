#include "util/Utility.h"

#include "util/AsciiCase.h"
#include "util/SystemCalls.h"

namespace {

bool RunsInSession(DWORD processId, DWORD sessionId) noexcept {
    if (sessionId == CUtility::kAnySession)
        return true;
    // A process whose session cannot be read (it may have ended meanwhile) is left out.
    DWORD processSession = 0;
    return g_os.ProcessIdToSessionId(processId, &processSession) && processSession == sessionId;
}

} // namespace

int CUtility::FindProcessesByName(const std::wstring& name, std::vector<DWORD>& processIds,
                                  DWORD sessionId) noexcept {
    UniqueSnapshot snapshot(g_os.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    processIds.clear();
    if (!snapshot)
        return 0;

    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    try {
        for (BOOL more = g_os.Process32FirstW(snapshot.get(), &entry); more;
             more = g_os.Process32NextW(snapshot.get(), &entry)) {
            if (EqualsIgnoringAsciiCase(entry.szExeFile, name) &&
                RunsInSession(entry.th32ProcessID, sessionId))
                processIds.push_back(entry.th32ProcessID);
        }
    } catch (...) {
        // No memory for the list: a partial list would silently miss processes.
        processIds.clear();
        return 0;
    }
    return 1;
}
