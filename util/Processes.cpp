#include "util/Utility.h"

#include "util/AsciiCase.h"
#include "util/SystemCalls.h"

#include <vector>

#include <winternl.h>

namespace {

bool RunsInSession(DWORD processId, DWORD sessionId) noexcept {
    if (sessionId == CUtility::kAnySession)
        return true;
    // A process whose session cannot be read (it may have ended meanwhile) is left out.
    DWORD processSession = 0;
    return g_os.ProcessIdToSessionId(processId, &processSession) && processSession == sessionId;
}

using QueryProcessFunction = LONG(NTAPI*)(HANDLE process, ULONG kind, PVOID information,
                                          ULONG length, PULONG returned);

QueryProcessFunction QueryProcess() {
    static const QueryProcessFunction query =
        reinterpret_cast<QueryProcessFunction>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
    return query;
}

// Windows 8.1 and later answer for a process of either bitness.
bool CommandLineFromTheSystem(HANDLE process, std::wstring& commandLine) {
    constexpr ULONG kProcessCommandLineInformation = 60;
    std::vector<unsigned char> buffer(sizeof(UNICODE_STRING) + 65536);
    ULONG returned = 0;
    if (QueryProcess()(process, kProcessCommandLineInformation, buffer.data(),
                       static_cast<ULONG>(buffer.size()), &returned) < 0)
        return false;
    const auto* text = reinterpret_cast<const UNICODE_STRING*>(buffer.data());
    commandLine.assign(text->Buffer, text->Length / sizeof(wchar_t));
    return true;
}

// Earlier, and under Wine: read from the process's own parameters, for a process of this one's
// bitness, whose layout is this one's.
bool CommandLineFromItsParameters(HANDLE process, std::wstring& commandLine) {
    BOOL ownWow64 = FALSE;
    BOOL itsWow64 = FALSE;
    if (!::IsWow64Process(::GetCurrentProcess(), &ownWow64) ||
        !::IsWow64Process(process, &itsWow64) || ownWow64 != itsWow64)
        return false;
    PROCESS_BASIC_INFORMATION basic = {};
    PEB peb = {};
    RTL_USER_PROCESS_PARAMETERS parameters = {};
    if (QueryProcess()(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) < 0 ||
        !::ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, nullptr) ||
        !::ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters,
                             nullptr))
        return false;
    std::wstring text(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
    if (!text.empty() && !::ReadProcessMemory(process, parameters.CommandLine.Buffer, text.data(),
                                              parameters.CommandLine.Length, nullptr))
        return false;
    commandLine = std::move(text);
    return true;
}

} // namespace

bool CUtility::ProcessCommandLine(HANDLE process, std::wstring& commandLine) {
    return QueryProcess() != nullptr && (CommandLineFromTheSystem(process, commandLine) ||
                                         CommandLineFromItsParameters(process, commandLine));
}

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
