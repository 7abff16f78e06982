#include "app/PayloadLaunch.h"

#include "app/CommandLine.h"
#include "app/StartCommand.h"
#include "framework/UniqueHandle.h"
#include "package/PackageFormat.h"
#include "package/UnPack.h"
#include "util/PathText.h"
#include "util/QueriedPath.h"
#include "util/SystemCalls.h"
#include "util/Utility.h"

#include <vector>

namespace {

constexpr wchar_t kInitInstance[] = L"CUnPackFileApp::InitInstance";
constexpr DWORD kPollIntervalMs = 3000;

// A process that has just ended may hold the folder for a moment longer (its current directory,
// a file a child of it still has open): the deletion is tried again for up to two seconds. Wine
// lets go of an ended process's current directory some 250 ms later; trying every 10 ms ends the
// run as soon as the folder is free rather than up to a whole pause after.
constexpr DWORD kCleanupPauseMs = 10;
constexpr int kMaxCleanupRetries = 2000 / kCleanupPauseMs;

// With it the command processor looks for run.bat along the PATH before the current folder; it
// is taken from the user's environment, which the user writes.
constexpr wchar_t kNoCurrentFolderSearch[] = L"NoDefaultCurrentDirectoryInExePath";

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

std::wstring SystemFolder(UINT(WINAPI* query)(LPWSTR, UINT)) {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = query(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

bool IsCurrentFolder(const std::wstring& folder) {
    const std::wstring current = WithoutTrailingBackslashes(QueriedPath(::GetCurrentDirectoryW));
    const std::wstring wanted = WithoutTrailingBackslashes(folder);
    return !current.empty() &&
           ::CompareStringOrdinal(current.c_str(), static_cast<int>(current.size()), wanted.c_str(),
                                  static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL;
}

// Reads a key's default string; RegGetValueW expands the environment strings of a REG_EXPAND_SZ.
// Empty when there is none.
std::wstring DefaultString(HKEY root, const std::wstring& path) {
    DWORD size = 0;
    if (::RegGetValueW(root, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, nullptr, &size) !=
            ERROR_SUCCESS ||
        size < sizeof(wchar_t))
        return std::wstring();
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1);
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (::RegGetValueW(root, path.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, text.data(), &size) !=
        ERROR_SUCCESS)
        return std::wstring();
    return std::wstring(text.data());
}

// The open command the machine registers for the file's extension, under HKEY_LOCAL_MACHINE:
// the user's own classes, which HKEY_CLASSES_ROOT and the shell merge in first, are not the
// user's to choose for an elevated launch. Empty when the machine has no association for it.
std::wstring MachineOpenCommand(const std::wstring& fileName) {
    const std::wstring extension = FileExtension(fileName);
    if (extension.empty())
        return std::wstring();
    const std::wstring classes = L"Software\\Classes\\";
    const std::wstring className = DefaultString(HKEY_LOCAL_MACHINE, classes + extension);
    const std::wstring key = classes + (className.empty() ? extension : className);
    return DefaultString(HKEY_LOCAL_MACHINE, key + L"\\shell\\open\\command");
}

// The program and command line to start: the command processor or a packaged program as
// itself, or a packaged document with the machine's open command for it. False when there is
// nothing it may be started with.
bool CommandToStart(const LaunchCommand& command, const std::wstring& file, StartCommand& start) {
    if (command.redirectsOutput) {
        start = ProgramCommand(command.file, command.parameters);
        return true;
    }
    if (IsProgramExtension(FileExtension(file))) {
        start = ProgramCommand(file, command.parameters);
        return true;
    }
    return AssociationCommand(MachineOpenCommand(file), file, command.parameters, start);
}

// Why nothing may be started, or empty when the command may run. Folds in what the default
// mode's launch needs of its surroundings: the script's output taken, the folder current.
std::wstring ReasonNotToStart(const LaunchCommand& command, CUnPack& unpack, std::wstring& file,
                              UniqueFileHandle& scriptOutput) {
    std::wstring written;
    if (!package::IsPlainFileName(command.packagedFile) ||
        !unpack.HasExtracted(command.packagedFile, &written))
        return command.packagedFile + L" is not a file this run extracted";
    if (!command.redirectsOutput) {
        file = unpack.GetUnpackDir() + written;
        return std::wstring();
    }
    if (!IsCurrentFolder(unpack.GetUnpackDir()))
        return L"the extraction folder is not the current folder";
    if (!CUtility::TakeScriptOutput(scriptOutput))
        return L"the script's output " + CUtility::GetLogFilePath() + L".txt is not this run's own";
    file = command.file;
    return std::wstring();
}

} // namespace

LaunchCommand DefaultScriptCommand(CUnPack& unpack) {
    LaunchCommand command;
    command.file = SystemFolder(::GetSystemDirectoryW) + L"\\cmd.exe";
    ::SetCurrentDirectoryW(unpack.GetUnpackDir().c_str());
    ::SetEnvironmentVariableW(kNoCurrentFolderSearch, nullptr); // the folder is searched first

    if (!CUtility::IsPreVista() && CUtility::IsWow64())
        command.file = SystemFolder(::GetSystemWindowsDirectoryW) + L"\\sysnative\\cmd.exe";
    command.parameters = DefaultScriptParameters(CUtility::GetLogFilePath());
    command.show = SW_HIDE;
    command.packagedFile = kDefaultScript;
    command.redirectsOutput = true;
    return command;
}

LaunchCommand NamedFileCommand(CUnPack& unpack, const std::vector<std::wstring>& arguments,
                               const std::wstring& rawCommandLine) {
    LaunchCommand command;
    command.file = arguments.size() > 1 ? arguments[1] : std::wstring();
    command.parameters = NamedFileParameters(rawCommandLine, arguments);
    command.directory = unpack.GetUnpackDir();
    command.show = SW_SHOWNORMAL;
    command.packagedFile = command.file;
    return command;
}

bool LaunchAndWait(const LaunchCommand& command, CUnPack& unpack) noexcept {
    UniqueFileHandle scriptOutput; // held until the installer has ended
    StartCommand start;
    PROCESS_INFORMATION started = {};
    try {
        // The stub runs elevated: a package swapped in after the signature was checked, whatever
        // lies in a folder it did not create and hold since, or a file it did not extract, may be
        // the desktop user's programs'.
        if (unpack.PackageRefused()) {
            CUtility::Log(L"[%s] execute skipped: the package is not the one the stub was signed "
                          L"with",
                          kInitInstance);
            return false;
        }
        if (!unpack.OwnsFolder()) {
            CUtility::Log(L"[%s] execute skipped: the extraction folder is not this run's own",
                          kInitInstance);
            return false;
        }
        std::wstring file;
        const std::wstring reason = ReasonNotToStart(command, unpack, file, scriptOutput);
        if (!reason.empty()) {
            CUtility::Log(L"[%s] execute skipped: %s", kInitInstance, reason.c_str());
            scriptOutput.reset();
            (void)unpack.Cleanup();
            return false;
        }

        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = static_cast<WORD>(command.show);
        const std::wstring folder = unpack.GetUnpackDir();
        bool startedOk = false;
        if (CommandToStart(command, file, start)) {
            std::vector<wchar_t> commandLine(start.commandLine.begin(), start.commandLine.end());
            commandLine.push_back(L'\0');
            startedOk =
                g_os.CreateProcessW(start.application.c_str(), commandLine.data(), nullptr, nullptr,
                                    FALSE, 0, nullptr, folder.c_str(), &startup, &started) != FALSE;
        } else {
            ::SetLastError(ERROR_NO_ASSOCIATION);
        }
        if (!startedOk) {
            CUtility::Log(L"[%s] execute fail", kInitInstance);
            unpack.ReleaseFolder(); // the folder stays for the next run to remove
            return false;
        }
    } catch (...) {
        return false;
    }

    UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread); // not needed: closed with the rest
    CUtility::Log(L"[%s] execute succ 0x%08X", kInitInstance,
                  static_cast<unsigned>(reinterpret_cast<UINT_PTR>(process.get())));
    CUtility::Log(L"[%s] execute wait pid:%d", kInitInstance,
                  static_cast<int>(started.dwProcessId));
    const DWORD exitCode = WaitForEnd(process.get());
    process.reset();
    scriptOutput.reset();

    for (int retries = 0; !unpack.Cleanup() && retries < kMaxCleanupRetries; ++retries)
        g_os.Sleep(kCleanupPauseMs);
    CUtility::Log(L"[%s] execute done code:%d", kInitInstance, static_cast<int>(exitCode));
    return true;
}
