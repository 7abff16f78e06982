#include "app/PayloadLaunch.h"

#include "app/CommandLine.h"
#include "app/InstallerJob.h"
#include "app/StartCommand.h"
#include "framework/UniqueHandle.h"
#include "package/PackageFormat.h"
#include "package/UnPack.h"
#include "util/LogSources.h"
#include "util/MachineEnvironment.h"
#include "util/RestartDeletion.h"
#include "util/SameFile.h"
#include "util/SystemCalls.h"
#include "util/Utility.h"

#include <vector>

namespace {

using logsource::kInitInstance;

constexpr DWORD kPollIntervalMs = 3000;

// A process that has just ended may hold the folder for a moment longer (its current directory,
// a file a child of it still has open): the deletion is tried again for up to two seconds. Wine
// lets go of an ended process's current directory some 250 ms later; trying every 10 ms ends the
// run as soon as the folder is free rather than up to a whole pause after.
constexpr DWORD kCleanupPauseMs = 10;
constexpr int kMaxCleanupRetries = 2000 / kCleanupPauseMs;

// What the installer started and that ends within this long is waited for without a word.
constexpr DWORD kMomentMs = 1000;

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

std::wstring SystemFolder(UINT(WINAPI* query)(LPWSTR, UINT)) {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = query(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(folder, length) : std::wstring();
}

// A key's default string, taken as it is stored: the environment strings of a REG_EXPAND_SZ are
// expanded against `machine`, never against the stub's own environment, which is the caller's.
// Empty when there is none.
std::wstring DefaultString(HKEY root, const std::wstring& path, const Environment& machine) {
    constexpr DWORD kFlags = RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND;
    DWORD size = 0;
    if (::RegGetValueW(root, path.c_str(), nullptr, kFlags, nullptr, nullptr, &size) !=
            ERROR_SUCCESS ||
        size < sizeof(wchar_t))
        return std::wstring();
    std::vector<wchar_t> text(size / sizeof(wchar_t) + 1);
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    DWORD type = REG_NONE;
    if (::RegGetValueW(root, path.c_str(), nullptr, kFlags, &type, text.data(), &size) !=
        ERROR_SUCCESS)
        return std::wstring();
    return type == REG_EXPAND_SZ ? ExpandVariables(text.data(), machine) : text.data();
}

// The open command the machine registers for the file's extension, under HKEY_LOCAL_MACHINE:
// the user's own classes, which HKEY_CLASSES_ROOT and the shell merge in first, are not the
// user's to choose for an elevated launch. Empty when the machine has no association for it.
std::wstring MachineOpenCommand(const std::wstring& fileName, const Environment& machine) {
    const std::wstring extension = FileExtension(fileName);
    if (extension.empty())
        return std::wstring();
    const std::wstring classes = L"Software\\Classes\\";
    const std::wstring className = DefaultString(HKEY_LOCAL_MACHINE, classes + extension, machine);
    const std::wstring key = classes + (className.empty() ? extension : className);
    return DefaultString(HKEY_LOCAL_MACHINE, key + L"\\shell\\open\\command", machine);
}

// The program and command line to start for the extracted file `path`: the command processor
// or a packaged program as itself, or a packaged document with the machine's open command for
// it. False when there is nothing it may be started with.
bool CommandToStart(const LaunchCommand& command, const std::wstring& path,
                    const Environment& machine, StartCommand& start) {
    if (command.viaCommandProcessor) {
        start = ProgramCommand(command.file, command.parameters);
        return true;
    }
    if (IsProgramExtension(FileExtension(path))) {
        start = ProgramCommand(path, command.parameters);
        return true;
    }
    return AssociationCommand(MachineOpenCommand(path, machine), path, command.parameters, start);
}

// Why the command may not start, or empty when it may.
std::wstring ReasonNotToStart(const LaunchCommand& command, CUnPack& unpack) {
    if (!package::IsSafeEntryPath(command.packagedFile) ||
        !unpack.Folder().HasExtracted(command.packagedFile))
        return command.packagedFile + L" is not a file this run extracted";
    const wchar_t inName = BatchOperatorIn(command.packagedFile);
    if (command.viaCommandProcessor && inName != L'\0')
        return command.packagedFile + L" holds " + inName +
               L", which the command processor would read as an operator";
    // A script reads its own folder's name as text of its lines (%~dp0, %CD%, and again in a
    // call, or with delayed expansion): it may hold no operator, no "%" and no "!". The machine's
    // directory never does; a process without administrator rights extracts into its own.
    const wchar_t inFolder = ScriptFolderCharacterIn(unpack.Folder().Path());
    if (command.viaCommandProcessor && inFolder != L'\0')
        return std::wstring(L"the extraction folder's path holds ") + inFolder +
               L", which a batch file reading its own folder would run as a command";
    const wchar_t inParameters = BatchOperatorIn(command.batchParameters);
    if (inParameters != L'\0')
        return std::wstring(L"the parameters of ") + command.packagedFile + L" hold " +
               (inParameters == L'\r' || inParameters == L'\n' ? std::wstring(L"a line break")
                                                               : std::wstring(1, inParameters)) +
               L", which a batch file would run as a command";
    return std::wstring();
}

// The default script's output handle is the one handle the command processor inherits, as its
// standard output: nothing else the stub holds reaches it.
class InheritedOutput {
public:
    explicit InheritedOutput(HANDLE output) : output_(output) {
        if (output_ == nullptr)
            return;
        SIZE_T size = 0;
        ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        buffer_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        if (!::SetHandleInformation(output_, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT) ||
            !::InitializeProcThreadAttributeList(list, 1, 0, &size))
            return;
        list_ = list;
        ready_ = ::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &output_,
                                             sizeof output_, nullptr, nullptr) != FALSE;
    }
    ~InheritedOutput() {
        if (list_ != nullptr)
            ::DeleteProcThreadAttributeList(list_);
        if (output_ != nullptr)
            ::SetHandleInformation(output_, HANDLE_FLAG_INHERIT, 0);
    }
    InheritedOutput(const InheritedOutput&) = delete;
    InheritedOutput& operator=(const InheritedOutput&) = delete;

    // False when the handle could not be passed on alone.
    [[nodiscard]] bool Ready() const noexcept { return output_ == nullptr || ready_; }
    // Standard input and error are none: nobody sees the hidden console to answer or read it.
    void FillIn(STARTUPINFOEXW& startup) const noexcept {
        if (output_ == nullptr)
            return;
        startup.StartupInfo.cb = sizeof startup;
        startup.StartupInfo.dwFlags |= STARTF_USESTDHANDLES;
        startup.StartupInfo.hStdOutput = output_;
        startup.lpAttributeList = list_;
    }
    [[nodiscard]] DWORD CreationFlags() const noexcept {
        return output_ != nullptr ? EXTENDED_STARTUPINFO_PRESENT : 0;
    }

private:
    HANDLE output_;
    std::vector<unsigned char> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
    bool ready_ = false;
};

// Starts `start` in `folder` with the machine's environment and, for the default script, its
// output handle. False when it could not be started.
bool StartProcess(const StartCommand& start, const LaunchCommand& command,
                  const Environment& machine, HANDLE output, PROCESS_INFORMATION& started) {
    const InheritedOutput inherited(output);
    if (!inherited.Ready())
        return false;
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup.StartupInfo;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = static_cast<WORD>(command.show);
    inherited.FillIn(startup);

    std::vector<wchar_t> commandLine(start.commandLine.begin(), start.commandLine.end());
    commandLine.push_back(L'\0');
    std::vector<wchar_t> environment = EnvironmentBlock(machine);
    return g_os.CreateProcessW(
               start.application.c_str(), commandLine.data(), nullptr, nullptr, output != nullptr,
               CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT | inherited.CreationFlags(),
               environment.data(), command.directory.c_str(), &startup.StartupInfo,
               &started) != FALSE;
}

// Whether the command may start, with what it needs: the machine's environment, and for the
// default script its output file, held when it may be. The stub runs elevated: a package swapped
// in after the signature was checked, whatever lies in a folder it did not create and hold since,
// an extraction that did not complete, or a file it did not extract, may be the desktop user's
// programs'. Says why not in the log, and deletes the folder of a package that may not start.
bool MayStart(const LaunchCommand& command, CUnPack& unpack, Environment& machine,
              UniqueFileHandle& scriptOutput) {
    std::wstring reason;
    switch (unpack.Ended()) {
    case ExtractionEnd::refused:
        reason = L"the package is not the one the stub was signed with";
        break;
    case ExtractionEnd::noRoom:
    case ExtractionEnd::writeFailed:
        reason = L"the extraction did not complete";
        break;
    case ExtractionEnd::complete:
    case ExtractionEnd::notRun: // said below, by the file that is missing
        if (!unpack.Folder().IsOwn())
            reason = L"the extraction folder is not this run's own";
        break;
    }
    if (reason.empty())
        reason = ReasonNotToStart(command, unpack);
    if (reason.empty() && !MachineEnvironment(machine))
        reason = L"the machine's environment could not be read";
    if (reason.empty()) {
        if (command.capturesOutput)
            (void)CUtility::TakeScriptOutput(scriptOutput); // else the output is not kept
        return true;
    }
    CUtility::Log(L"[%s] execute skipped: %s", kInitInstance, reason.c_str());
    (void)unpack.Cleanup();
    return false;
}

// What the command hands on to Windows as text, which Windows parses again before it opens
// anything: the folder the process starts in, and the extracted file by the path that is started,
// given to the machine's open command, or resolved by cmd against that folder. Each must reach
// what this run holds; says which does not, or empty when all do.
std::wstring PathThatMisses(const LaunchCommand& command, const ExtractionFolder& folder,
                            const std::wstring& filePath) {
    if (!PathReaches(command.directory, folder.Handle()))
        return command.directory;
    if (!PathReaches(filePath, folder.HeldFile(command.packagedFile)))
        return filePath;
    return std::wstring();
}

enum class StartResult { started, refused, failed };

// Starts the command from the folder, suspended, so that it is in the job before it runs. The
// default script runs in the folder, which is then the process's current directory too.
StartResult Start(const LaunchCommand& command, const ExtractionFolder& folder,
                  const Environment& machine, const UniqueFileHandle& scriptOutput,
                  PROCESS_INFORMATION& started) {
    if (command.capturesOutput)
        ::SetCurrentDirectoryW(folder.Path().c_str());
    std::wstring written;
    (void)folder.HasExtracted(command.packagedFile, &written);
    const std::wstring filePath = folder.Path() + written;
    StartCommand start;
    if (!CommandToStart(command, filePath, machine, start)) {
        ::SetLastError(ERROR_NO_ASSOCIATION);
        return StartResult::failed;
    }
    const std::wstring missed = PathThatMisses(command, folder, filePath);
    if (!missed.empty()) {
        CUtility::Log(L"[%s] execute skipped: %s does not reach what this run extracted",
                      kInitInstance, missed.c_str());
        return StartResult::refused;
    }
    return StartProcess(start, command, machine, scriptOutput ? scriptOutput.get() : nullptr,
                        started)
               ? StartResult::started
               : StartResult::failed;
}

// Deletes the folder once the processes that held it have let go. What stays (a program still
// running from it, a file still held) goes at the next restart, and the log names it and the
// programs that run from the folder.
void DeleteFolder(CUnPack& unpack, bool processesLeftRunning) {
    const std::wstring folder = unpack.Folder().Path();
    // Nothing left running: a process that has just ended may still hold the folder for a
    // moment.
    for (int retries = 0; !processesLeftRunning && retries < kMaxCleanupRetries; ++retries) {
        if (unpack.Cleanup())
            return;
        g_os.Sleep(kCleanupPauseMs);
    }
    std::vector<std::wstring> leftovers;
    if (unpack.Cleanup(&leftovers))
        return;
    for (const DWORD id : CUtility::ProcessesRunningFrom(folder))
        CUtility::Log(L"[%s] Still running from the extraction folder: pid:%d %s", kInitInstance,
                      static_cast<int>(id), CUtility::ProcessImagePath(id).c_str());
    DeleteAtNextRestart(leftovers, kInitInstance);
}

// Follows what the installer leaves running, up to the bound, and names what still runs then.
// True when something does. What ends within a moment (a console program's host) goes unsaid.
// A bound of 0 follows nothing: the installer's own process is all that was waited for.
bool WaitForWhatItLeft(InstallerJob& job, DWORD boundMs) {
    if (boundMs == 0)
        return false;
    const DWORD moment = boundMs < kMomentMs ? boundMs : kMomentMs;
    std::vector<DWORD> running = job.WaitForAll(moment);
    if (!running.empty() && boundMs > moment) {
        CUtility::Log(L"[%s] execute wait for %d processes the installer started, up to %d s",
                      kInitInstance, static_cast<int>(running.size()),
                      static_cast<int>(boundMs / 1000));
        running = job.WaitForAll(boundMs - moment);
    }
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

LaunchCommand DefaultScriptCommand(const std::wstring& folder,
                                   const std::wstring& commandProcessor) {
    LaunchCommand command;
    command.file = commandProcessor;
    command.parameters = DefaultScriptParameters();
    command.directory = folder;
    command.show = SW_HIDE;
    command.packagedFile = kDefaultScript;
    command.viaCommandProcessor = true;
    command.capturesOutput = true;
    return command;
}

LaunchCommand NamedFileCommand(const std::wstring& folder,
                               const std::vector<std::wstring>& arguments,
                               const std::wstring& rawCommandLine,
                               const std::wstring& commandProcessor) {
    LaunchCommand command;
    command.packagedFile = arguments.size() > 1 ? arguments[1] : std::wstring();
    command.file = command.packagedFile;
    command.parameters = NamedFileParameters(rawCommandLine, arguments);
    command.directory = folder;
    command.show = SW_SHOWNORMAL;
    if (IsBatchExtension(FileExtension(command.packagedFile))) {
        command.batchParameters = command.parameters;
        command.file = commandProcessor;
        command.parameters = BatchFileParameters(command.packagedFile, command.batchParameters);
        command.viaCommandProcessor = true;
    }
    return command;
}

LaunchResult LaunchAndWait(const LaunchCommand& command, CUnPack& unpack,
                           DWORD waitForChildrenMs) noexcept {
    LaunchResult result;
    PROCESS_INFORMATION started = {};
    UniqueFileHandle scriptOutput; // held until the installer has ended
    try {
        Environment machine;
        if (!MayStart(command, unpack, machine, scriptOutput))
            return result;
        switch (Start(command, unpack.Folder(), machine, scriptOutput, started)) {
        case StartResult::started:
            break;
        case StartResult::refused:
            scriptOutput.reset();
            (void)unpack.Cleanup();
            return result;
        case StartResult::failed:
            CUtility::Log(L"[%s] execute fail", kInitInstance);
            scriptOutput.reset();
            DeleteFolder(unpack, false); // nothing of it runs
            return result;
        }
    } catch (...) {
        return result;
    }

    UniqueHandle process(started.hProcess);
    const UniqueHandle thread(started.hThread);
    InstallerJob job;
    if (!job.Follow(process.get()))
        CUtility::Log(L"[%s] The installer's processes cannot be followed in a job (error %d): "
                      L"waiting for the installer alone",
                      kInitInstance, static_cast<int>(::GetLastError()));
    if (::ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        // Never ran a single instruction: ended here, rather than waited for forever.
        ::TerminateProcess(process.get(), ERROR_INSTALL_FAILURE);
        CUtility::Log(L"[%s] execute fail", kInitInstance);
        scriptOutput.reset();
        process.reset();
        DeleteFolder(unpack, false);
        return result;
    }
    CUtility::Log(L"[%s] execute succ 0x%08X", kInitInstance,
                  static_cast<unsigned>(reinterpret_cast<UINT_PTR>(process.get())));
    CUtility::Log(L"[%s] execute wait pid:%d", kInitInstance,
                  static_cast<int>(started.dwProcessId));
    result.launched = true;
    result.exitCodeKnown = WaitForEnd(process.get(), result.exitCode);
    process.reset();
    bool leftRunning = false;
    try {
        leftRunning = WaitForWhatItLeft(job, waitForChildrenMs);
        scriptOutput.reset();
        DeleteFolder(unpack, leftRunning);
    } catch (...) {
        // Out of memory for a path: the next run removes the folder.
    }
    CUtility::Log(L"[%s] execute done code:%d", kInitInstance,
                  result.exitCodeKnown ? static_cast<int>(result.exitCode) : -1);
    return result;
}
