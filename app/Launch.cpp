#include "app/Launch.h"

#include "app/InheritedOutput.h"
#include "app/InstallerJob.h"
#include "framework/UniqueHandle.h"
#include "package/ExtractionFolder.h"
#include "util/LogSources.h"
#include "util/SameFile.h"
#include "util/SystemCalls.h"
#include "util/Utility.h"

#include <algorithm>
#include <vector>

namespace {

using logsource::kInitInstance;

constexpr DWORD kPollIntervalMs = 3000;

// What the installer started and that ends within this long is waited for without a word.
constexpr DWORD kMomentMs = 1000;

// A started process, owned.
struct Started {
    UniqueHandle process;
    UniqueHandle thread;
    DWORD id = 0;
};

std::wstring SystemFolder(UINT(WINAPI* query)(LPWSTR, UINT)) {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = query(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

// What the command hands on to Windows as text, which Windows parses again before it opens
// anything: the folder the process starts in, and the extracted file by the path that is started,
// given to the machine's open command, or resolved by cmd against that folder. Each must reach
// what this run holds; says which does not, or empty when all do.
std::wstring PathThatMisses(const LaunchPlan& plan, const ExtractionFolder& folder) {
    if (!PathReaches(plan.directory, folder.Handle()))
        return plan.directory;
    if (!PathReaches(plan.packagedPath, folder.HeldFile(plan.packagedFile)))
        return plan.packagedPath;
    return std::wstring();
}

// Starts the plan's command suspended, so that it is in the job before it runs, in the folder,
// with the machine's environment and, for the default script, its output handle. False when it
// could not be started.
bool StartSuspended(const LaunchPlan& plan, const Environment& machine, HANDLE output,
                    Started& started) {
    const InheritedOutput inherited(output);
    if (!inherited.Ready())
        return false;
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup.StartupInfo;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = static_cast<WORD>(plan.show);
    inherited.FillIn(startup);

    std::vector<wchar_t> commandLine(plan.start.commandLine.begin(), plan.start.commandLine.end());
    commandLine.push_back(L'\0');
    std::vector<wchar_t> environment = EnvironmentBlock(machine);
    PROCESS_INFORMATION information = {};
    if (!g_os.CreateProcessW(
            plan.start.application.c_str(), commandLine.data(), nullptr, nullptr,
            inherited.Inherits(),
            CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT | inherited.CreationFlags(),
            environment.data(), plan.directory.c_str(), &startup.StartupInfo, &information))
        return false;
    started.process.reset(information.hProcess);
    started.thread.reset(information.hThread);
    started.id = information.dwProcessId;
    return true;
}

// Waits until the process has ended and returns its exit code; false when that cannot be read.
// Waiting on the handle rather than polling the exit code: an installer that ends with 259
// (STILL_ACTIVE) is still seen to end, and one that ends early is noticed at once. Should the wait
// itself fail, the exit code is polled instead, so the folder is never deleted under a running
// installer.
bool WaitForEnd(HANDLE process, DWORD& exitCode) noexcept {
    DWORD waited = WAIT_TIMEOUT;
    while ((waited = g_os.WaitForSingleObject(process, kPollIntervalMs)) == WAIT_TIMEOUT) {
    }
    if (waited == WAIT_FAILED) {
        do {
            g_os.Sleep(kPollIntervalMs);
            if (!g_os.GetExitCodeProcess(process, &exitCode))
                return false;
        } while (exitCode == STILL_ACTIVE);
        return true;
    }
    return waited == WAIT_OBJECT_0 && g_os.GetExitCodeProcess(process, &exitCode);
}

// Follows what the installer leaves running that is part of the installation, up to the bound,
// and names what still runs then. True when something does. What ends within a moment (a console
// program's host) goes unsaid. A bound of 0 follows nothing: the installer's own process is all
// that was waited for.
bool WaitForWhatItLeft(InstallerJob& job, const std::vector<std::wstring>& folders, DWORD boundMs) {
    if (boundMs == 0)
        return false;
    const DWORD moment = boundMs < kMomentMs ? boundMs : kMomentMs;
    std::vector<DWORD> running = job.WaitForStages(moment, folders);
    if (!running.empty() && boundMs > moment) {
        CUtility::Log(L"[%s] execute wait for %d processes the installer started, up to %d s",
                      kInitInstance, static_cast<int>(running.size()),
                      static_cast<int>(boundMs / 1000));
        running = job.WaitForStages(boundMs - moment, folders);
    }
    for (const DWORD late : job.NameOthersLeftRunning(kMomentMs, folders))
        if (std::find(running.begin(), running.end(), late) == running.end())
            running.push_back(late);
    for (const DWORD id : running)
        CUtility::Log(L"[%s] Still running, left to run on: pid:%d %s", kInitInstance,
                      static_cast<int>(id), CUtility::ProcessImagePath(id).c_str());
    return !running.empty();
}

} // namespace

std::wstring CommandProcessorPath() {
    if (!CUtility::IsPreVista() && CUtility::IsWow64())
        return SystemFolder(::GetSystemWindowsDirectoryW) + L"\\sysnative\\cmd.exe";
    return SystemFolder(::GetSystemDirectoryW) + L"\\cmd.exe";
}

LaunchResult Launch(const LaunchPlan& plan, const ExtractionFolder& folder,
                    const ExtractionFolder& installerTemp, const Environment& machine,
                    RunOutcome nothingStarted, DWORD waitForChildrenMs) {
    LaunchResult result;
    result.outcome = nothingStarted;
    switch (plan.verdict) {
    case PlanVerdict::skip:
        CUtility::Log(L"[%s] execute skipped: %s", kInitInstance, plan.reason.c_str());
        return result;
    case PlanVerdict::noAssociation:
        ::SetLastError(ERROR_NO_ASSOCIATION);
        CUtility::Log(L"[%s] execute fail", kInitInstance);
        result.folder = FolderUse::released;
        return result;
    case PlanVerdict::start:
        break;
    }

    UniqueFileHandle scriptOutput; // held until the installer has ended
    if (plan.capturesOutput) {
        (void)CUtility::TakeScriptOutput(scriptOutput); // else the output is not kept
        ::SetCurrentDirectoryW(folder.Path().c_str());
    }
    const std::wstring missed = PathThatMisses(plan, folder);
    if (!missed.empty()) {
        CUtility::Log(L"[%s] execute skipped: %s does not reach what this run extracted",
                      kInitInstance, missed.c_str());
        return result;
    }
    Started started;
    if (!StartSuspended(plan, machine, scriptOutput ? scriptOutput.get() : nullptr, started)) {
        CUtility::Log(L"[%s] execute fail", kInitInstance);
        result.folder = FolderUse::released;
        return result;
    }

    InstallerJob job;
    if (!job.Follow(started.process.get()))
        CUtility::Log(L"[%s] The installer's processes cannot be followed in a job (error %d): "
                      L"waiting for the installer alone",
                      kInitInstance, static_cast<int>(::GetLastError()));
    if (::ResumeThread(started.thread.get()) == static_cast<DWORD>(-1)) {
        // Never ran a single instruction: ended here, rather than waited for forever.
        ::TerminateProcess(started.process.get(), ERROR_INSTALL_FAILURE);
        CUtility::Log(L"[%s] execute fail", kInitInstance);
        result.folder = FolderUse::released;
        return result;
    }
    CUtility::Log(L"[%s] execute succ 0x%08X", kInitInstance,
                  static_cast<unsigned>(reinterpret_cast<UINT_PTR>(started.process.get())));
    CUtility::Log(L"[%s] execute wait pid:%d", kInitInstance, static_cast<int>(started.id));
    result.outcome.installerRan = true;
    result.exitCodeKnown = WaitForEnd(started.process.get(), result.exitCode);
    // An exit code that could not be read is never taken for success.
    result.outcome.code = result.exitCodeKnown ? result.exitCode : kInstallFailure;
    started.process.reset();
    result.folder = WaitForWhatItLeft(job, {folder.Path(), installerTemp.Path()}, waitForChildrenMs)
                        ? FolderUse::stillUsed
                        : FolderUse::released;
    return result;
}

void LogLaunchEnd(const LaunchResult& launch) {
    if (launch.outcome.installerRan)
        CUtility::Log(L"[%s] execute done code:%d", kInitInstance,
                      launch.exitCodeKnown ? static_cast<int>(launch.exitCode) : -1);
}
