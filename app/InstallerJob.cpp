#include "app/InstallerJob.h"

#include "util/SystemCalls.h"

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
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
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

bool InstallerJob::NoneRunning() noexcept {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
    return ::QueryInformationJobObject(job_.get(), JobObjectBasicAccountingInformation, &accounting,
                                       sizeof accounting, nullptr) &&
           accounting.ActiveProcesses == 0;
}

std::vector<DWORD> InstallerJob::WaitForAll(DWORD boundMs) {
    if (!job_)
        return {};
    const ULONGLONG deadline = ::GetTickCount64() + boundMs;
    for (;;) {
        if (NoneRunning())
            return {};
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline)
            return Running();
        DWORD message = 0;
        ULONG_PTR key = 0;
        LPOVERLAPPED detail = nullptr;
        const DWORD slice = static_cast<DWORD>(
            deadline - now < kCountIntervalMs ? deadline - now : kCountIntervalMs);
        if (g_os.GetQueuedCompletionStatus(port_.get(), &message, &key, &detail, slice) &&
            key == kJobKey && message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO)
            return {};
    }
}

std::vector<DWORD> InstallerJob::Running() {
    std::vector<DWORD> ids;
    if (!job_)
        return ids;
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
            return ids;
        }
        if (::GetLastError() != ERROR_MORE_DATA)
            return ids;
    }
    return ids;
}
