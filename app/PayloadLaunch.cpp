#include "app/PayloadLaunch.h"

#include "app/CommandLine.h"
#include "framework/UniqueHandle.h"
#include "package/UnPack.h"
#include "util/SystemCalls.h"
#include "util/Utility.h"

#include <shellapi.h>

namespace {

constexpr wchar_t kInitInstance[] = L"CUnPackFileApp::InitInstance";
constexpr DWORD kPollIntervalMs = 3000;

// A process that has just ended may hold the folder for a moment longer (its current directory,
// a file a child of it still has open): the deletion is tried again for up to two seconds. Wine
// lets go of an ended process's current directory some 250 ms later; trying every 10 ms ends the
// run as soon as the folder is free rather than up to a whole pause after.
constexpr DWORD kCleanupPauseMs = 10;
constexpr int kMaxCleanupRetries = 2000 / kCleanupPauseMs;

// Keep the process handle, return only once the process is started, and let the shell show no
// error box of its own: a failure is logged and recorded instead.
constexpr ULONG kExecuteMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
static_assert(kExecuteMask == 0x540, "the shell-execute mask");

// Waits until the process has ended and returns its exit code (-1 when that cannot be read).
// Waiting on the handle rather than polling the exit code: an installer that ends with 259
// (STILL_ACTIVE) is still seen to end, and one that ends early is noticed at once. Should the wait
// itself fail, the exit code is polled instead, so the folder is never deleted under a running
// installer.
DWORD WaitForEnd(HANDLE process) noexcept {
    DWORD waited = WAIT_TIMEOUT;
    while ((waited = g_os.WaitForSingleObject(process, kPollIntervalMs)) == WAIT_TIMEOUT) {
    }
    DWORD exitCode = 0;
    if (waited == WAIT_FAILED) {
        do {
            g_os.Sleep(kPollIntervalMs);
            if (!g_os.GetExitCodeProcess(process, &exitCode))
                return static_cast<DWORD>(-1);
        } while (exitCode == STILL_ACTIVE);
        return exitCode;
    }
    if (!g_os.GetExitCodeProcess(process, &exitCode))
        exitCode = static_cast<DWORD>(-1);
    return exitCode;
}

} // namespace

LaunchCommand DefaultScriptCommand(CUnPack& unpack) {
    LaunchCommand command;
    command.file = L"cmd.exe";
    ::SetCurrentDirectoryW(unpack.GetUnpackDir().c_str());

    if (!CUtility::IsPreVista() && CUtility::IsWow64()) {
        wchar_t windows[MAX_PATH + 1] = {};
        ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
        command.file = std::wstring(windows) + L"\\sysnative\\cmd.exe";
    }
    // The script's output is redirected to this file: a link planted there would have it written
    // wherever the link points.
    (void)CUtility::RemoveLinkedScriptOutput();
    command.parameters = DefaultScriptParameters(CUtility::GetLogFilePath());
    command.show = SW_HIDE;
    return command;
}

LaunchCommand NamedFileCommand(CUnPack& unpack, const std::vector<std::wstring>& arguments,
                               const std::wstring& rawCommandLine) {
    LaunchCommand command;
    command.file = arguments.size() > 1 ? arguments[1] : std::wstring();
    command.parameters = NamedFileParameters(rawCommandLine, arguments);
    command.directory = unpack.GetUnpackDir();
    command.show = SW_SHOWNORMAL;
    return command;
}

bool LaunchAndWait(const LaunchCommand& command, CUnPack& unpack) noexcept {
    SHELLEXECUTEINFOW record = {};
    record.cbSize = sizeof record;
    record.fMask = kExecuteMask;
    record.hwnd = nullptr;
    record.lpVerb = L"open";
    record.lpFile = command.file.c_str();
    record.lpParameters = command.parameters.c_str();
    record.lpDirectory = command.directory.empty() ? nullptr : command.directory.c_str();
    record.nShow = command.show;

    // The stub runs elevated: whatever lies in a folder it did not create and hold since may
    // have been planted by the desktop user's programs.
    if (!unpack.OwnsFolder()) {
        CUtility::Log(L"[%s] execute skipped: the extraction folder is not this run's own",
                      kInitInstance);
        return false;
    }
    if (!::ShellExecuteExW(&record)) {
        CUtility::Log(L"[%s] execute fail", kInitInstance);
        unpack.ReleaseFolder(); // the folder stays for the next run to remove
        return false;
    }
    CUtility::Log(L"[%s] execute succ 0x%08X", kInitInstance,
                  static_cast<unsigned>(reinterpret_cast<UINT_PTR>(record.hProcess)));
    if (record.hProcess == nullptr) {
        unpack.ReleaseFolder(); // nothing to watch: the folder stays for the next run to remove
        return true;
    }

    UniqueHandle process(record.hProcess);
    CUtility::Log(L"[%s] execute wait pid:%d", kInitInstance,
                  static_cast<int>(::GetProcessId(process.get())));
    const DWORD exitCode = WaitForEnd(process.get());
    process.reset();

    try {
        unpack.Cleanup();
        const std::wstring folder = unpack.GetUnpackDir();
        for (int retries = 0; retries < kMaxCleanupRetries && CUtility::PathExists(folder);
             ++retries) {
            g_os.Sleep(kCleanupPauseMs);
            unpack.Cleanup();
        }
    } catch (...) {
        // Out of memory for a path: the folder stays for the next run to remove.
    }
    CUtility::Log(L"[%s] execute done code:%d", kInitInstance, static_cast<int>(exitCode));
    return true;
}
