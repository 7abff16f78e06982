#include "app/InstallerJob.h"

#include "app/InstallationProcess.h"
#include "util/LogSources.h"
#include "util/SystemCalls.h"
#include "util/Utility.h"

namespace {

// How often the job's count is read while no message comes: a lost message delays the end of
// the wait by this much at most.
constexpr DWORD kCountIntervalMs = 1000;

// The key the job's messages come with on its port.
constexpr ULONG_PTR kJobKey = 1;

} // namespace

bool InstallerJob::Follow(HANDLE suspendedProcess) noexcept {
    job_.reset(::CreateJobObjectW(nullptr, nullptr));
    port_.reset(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
    if (!job_ || !port_)
        return false;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = 0; // no breakaway, nothing killed on closing
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {};
    association.CompletionKey = reinterpret_cast<PVOID>(kJobKey);
    association.CompletionPort = port_.get();
    if (!::SetInformationJobObject(job_.get(), JobObjectExtendedLimitInformation, &limits,
                                   sizeof limits) ||
        !::SetInformationJobObject(job_.get(), JobObjectAssociateCompletionPortInformation,
                                   &association, sizeof association) ||
        !g_os.AssignProcessToJobObject(job_.get(), suspendedProcess)) {
        const DWORD error = ::GetLastError();
        job_.reset();
        port_.reset();
        ::SetLastError(error);
        return false;
    }
    return true;
}

namespace {

// The system's Windows folder, where the console host lies; empty when it cannot be read.
std::wstring WindowsFolder() {
    wchar_t path[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemWindowsDirectoryW(path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(path, length) : std::wstring();
}

} // namespace

void InstallerJob::SortNew(const std::vector<DWORD>& running,
                           const std::vector<std::wstring>& folders) {
    for (const DWORD id : running) {
        const auto found = sorted_.find(id);
        if (found != sorted_.end() && found->second.settled)
            continue;
        // A process just started may not show its program or command line yet: until both can
        // be read it counts as a stage, and is sorted again at the next look.
        Sorted& process = sorted_[id];
        if (!process.process)
            process.process.reset(g_os.OpenProcess(
                PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, id));
        process.image = CUtility::ProcessImagePath(id);
        JobProcessText text{process.image, false, std::wstring(), false};
        text.consoleHost = IsConsoleHost(process.image, WindowsFolder());
        text.commandLineKnown = process.process && CUtility::ProcessCommandLine(
                                                       process.process.get(), text.commandLine);
        process.settled = text.consoleHost || (!text.image.empty() && text.commandLineKnown);
        process.stage = IsPartOfInstallation(text, folders);
        if (!process.stage)
            process.process.reset();
    }
}

std::vector<DWORD> InstallerJob::NameOthersLeftRunning(DWORD settleMs,
                                                       const std::vector<std::wstring>& folders) {
    if (!job_)
        return {};
    const ULONGLONG deadline = ::GetTickCount64() + settleMs;
    std::vector<DWORD> others;
    std::vector<DWORD> stages;
    for (;;) {
        std::vector<DWORD> running;
        (void)ListRunning(running);
        SortNew(running, folders);
        others.clear();
        stages.clear();
        for (const DWORD id : running)
            (sorted_[id].stage ? stages : others).push_back(id);
        const ULONGLONG now = ::GetTickCount64();
        if ((others.empty() && stages.empty()) || now >= deadline)
            break;
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED detail = nullptr;
        (void)g_os.GetQueuedCompletionStatus(port_.get(), &message, &key, &detail,
                                             static_cast<DWORD>(deadline - now));
    }
    NoteEndedStages();
    for (const DWORD id : others)
        CUtility::Log(L"[%s] Left to run, not part of the installation: pid:%d %s",
                      logsource::kInitInstance, static_cast<int>(id), sorted_[id].image.c_str());
    return stages;
}

void InstallerJob::NoteEndedStages() {
    for (auto& [id, process] : sorted_) {
        DWORD code = 0;
        if (!process.stage || !process.process ||
            g_os.WaitForSingleObject(process.process.get(), 0) != WAIT_OBJECT_0 ||
            !g_os.GetExitCodeProcess(process.process.get(), &code))
            continue;
        process.process.reset();
        if (code != 0)
            CUtility::Log(L"[%s] Stage ended: pid:%d %s code:%d", logsource::kInitInstance,
                          static_cast<int>(id), process.image.c_str(), static_cast<int>(code));
    }
}

std::vector<DWORD> InstallerJob::WaitForStages(DWORD boundMs,
                                               const std::vector<std::wstring>& folders) {
    if (!job_)
        return {};
    const ULONGLONG deadline = ::GetTickCount64() + boundMs;
    for (;;) {
        // A list that cannot be read is waited on to the bound, never taken for an empty one.
        std::vector<DWORD> running;
        const bool listed = ListRunning(running);
        SortNew(running, folders);
        NoteEndedStages();
        std::vector<DWORD> stages;
        for (const DWORD id : running)
            if (sorted_[id].stage)
                stages.push_back(id);
        const ULONGLONG now = ::GetTickCount64();
        if ((listed && stages.empty()) || now >= deadline)
            return stages;
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED detail = nullptr;
        const DWORD slice = static_cast<DWORD>(
            deadline - now < kCountIntervalMs ? deadline - now : kCountIntervalMs);
        // Any message (a process that started or ended) has the job read again at once.
        (void)g_os.GetQueuedCompletionStatus(port_.get(), &message, &key, &detail, slice);
    }
}

bool InstallerJob::ListRunning(std::vector<DWORD>& ids) {
    ids.clear();
    // Room for more processes than an installer leaves; the list is read again, larger, when it
    // does not fit.
    for (DWORD room = 64; room <= 65536; room *= 4) {
        std::vector<ULONG_PTR> buffer(2 + room);
        auto* list = reinterpret_cast<JOBOBJECT_BASIC_PROCESS_ID_LIST*>(buffer.data());
        list->NumberOfAssignedProcesses = room;
        if (::QueryInformationJobObject(job_.get(), JobObjectBasicProcessIdList, list,
                                        static_cast<DWORD>(buffer.size() * sizeof(ULONG_PTR)),
                                        nullptr)) {
            for (DWORD i = 0; i < list->NumberOfProcessIdsInList; ++i)
                ids.push_back(static_cast<DWORD>(list->ProcessIdList[i]));
            return true;
        }
        if (::GetLastError() != ERROR_MORE_DATA)
            return false;
    }
    return false;
}
