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
                                  DWORD sessionId) {
    UniqueSnapshot snapshot(g_os.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    processIds.clear();
    if (!snapshot)
        return 0;

    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = g_os.Process32FirstW(snapshot.get(), &entry); more;
         more = g_os.Process32NextW(snapshot.get(), &entry)) {
        if (EqualsIgnoringAsciiCase(entry.szExeFile, name) &&
            RunsInSession(entry.th32ProcessID, sessionId))
            processIds.push_back(entry.th32ProcessID);
    }
    return 1;
}

std::wstring CUtility::ProcessImagePath(DWORD processId) {
    const UniqueHandle process(
        g_os.OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process)
        return std::wstring();
    std::vector<wchar_t> buffer(32768);
    DWORD size = static_cast<DWORD>(buffer.size());
    if (!::QueryFullProcessImageNameW(process.get(), 0, buffer.data(), &size))
        return std::wstring();
    return std::wstring(buffer.data(), size);
}

std::vector<DWORD> CUtility::ProcessesRunningFrom(const std::wstring& folder) {
    std::vector<DWORD> found;
    UniqueSnapshot snapshot(g_os.CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return found;
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = g_os.Process32FirstW(snapshot.get(), &entry); more;
         more = g_os.Process32NextW(snapshot.get(), &entry)) {
        const std::wstring image = ProcessImagePath(entry.th32ProcessID);
        if (image.size() > folder.size() &&
            ::CompareStringOrdinal(image.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                                   static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL)
            found.push_back(entry.th32ProcessID);
    }
    return found;
}
