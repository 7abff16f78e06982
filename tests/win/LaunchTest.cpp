// The launch from a copy of this test binary that carries a package, run as a child process: the
// child runs the stub's main sequence for real, with a command line of the test's, and so
// extracts, then starts what it extracted. Starting is watched through the seam, which shows the
// program and command line a launch was given without running them.
#include "TestSupport.h"

#include "app/InstanceMutex.h"
#include "app/MainSequence.h"
#include "util/Utility.h"

#include <shellapi.h>
#include <winternl.h>

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <optional>

namespace {

// --- The child side ------------------------------------------------------------------------

std::wstring ReportPath() {
    return TempDir() + L"launch-report.txt";
}

// Records what the launch asked for: the program, its command line and folder, whether it was
// handed a standard output, and the environment it was given.
BOOL WINAPI RecordingStart(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL inherit, DWORD flags, LPVOID environment,
                           LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION) {
    const bool output = inherit && (flags & EXTENDED_STARTUPINFO_PRESENT) &&
                        (startup->dwFlags & STARTF_USESTDHANDLES) && startup->hStdOutput != nullptr;
    std::wstring report = std::wstring(application) + L"\n" + commandLine + L"\n" + directory +
                          L"\n" + (output ? L"output" : L"-");
    if (flags & CREATE_UNICODE_ENVIRONMENT)
        for (const wchar_t* entry = static_cast<const wchar_t*>(environment); *entry != L'\0';
             entry += wcslen(entry) + 1)
            report += L"\n" + std::wstring(entry);
    WriteTextFile(ReportPath(), Narrow(report));
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

constexpr DWORD kWaitForChildrenMs = 60000;

// The stub's run with `commandLine`, split as the runtime splits it, and no other stub running.
RunOutcome RunStub(const std::wstring& commandLine, DWORD waitForChildrenMs = kWaitForChildrenMs) {
    int count = 0;
    const UniqueLocalMemory split(::CommandLineToArgvW(commandLine.c_str(), &count));
    RunInputs inputs;
    for (int i = 0; i < count; ++i)
        inputs.arguments.emplace_back(static_cast<LPWSTR*>(split.get())[i]);
    inputs.commandLine = commandLine;
    const CInstanceMutex unnamed(L"");
    inputs.guard = &unnamed;
    inputs.waitForChildrenMs = waitForChildrenMs;
    return RunMainSequence(inputs);
}

// 1 when the installer ran, 0 when it did not.
int Launched(const std::wstring& commandLine) {
    return RunStub(commandLine).installerRan ? 1 : 0;
}

// What whoever starts the stub may set: the variables the script reads.
void SetCallersEnvironment() {
    ::SetEnvironmentVariableW(L"windir", L"C:\\evilwin");
    ::SetEnvironmentVariableW(L"CALLER_SECRET", L"1");
    ::SetEnvironmentVariableW(L"NoDefaultCurrentDirectoryInExePath", L"1");
    wchar_t path[4096] = {};
    ::GetEnvironmentVariableW(L"PATH", path, 4096);
    ::SetEnvironmentVariableW(L"PATH", (std::wstring(L"C:\\userbin;") + path).c_str());
}

const ChildRegistration defaultLaunch(L"launch-default", [] {
    g_os.CreateProcessW = RecordingStart;
    SetCallersEnvironment();
    return Launched(L"setup.exe");
});

const ChildRegistration namedLaunch(L"launch-named", [] {
    g_os.CreateProcessW = RecordingStart;
    SetCallersEnvironment();
    wchar_t name[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"LAUNCH_TEST_FILE", name, MAX_PATH);
    return Launched(L"setup.exe " + std::wstring(name) + L" /qn");
});

const ChildRegistration slowInstaller(L"sleep-then-exit-7", [] {
    ::Sleep(1500);
    return 7;
});

DWORD WINAPI FailingWait(HANDLE, DWORD) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}
VOID WINAPI ShortPause(DWORD) {
    ::Sleep(100); // the three-second polls, shortened
}

const ChildRegistration failedWait(L"launch-with-failing-wait", [] {
    g_os.WaitForSingleObject = FailingWait;
    g_os.Sleep = ShortPause;
    return Launched(L"setup.exe installer.exe --child sleep-then-exit-7");
});

BOOL WINAPI UnreadableExitCode(HANDLE, LPDWORD code) {
    *code = 0;
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// The outcome of an installer whose exit code cannot be read: 1603, never its 7 nor success.
const ChildRegistration unreadableCode(L"launch-with-unreadable-exit-code", [] {
    g_os.GetExitCodeProcess = UnreadableExitCode;
    const RunOutcome outcome = RunStub(L"setup.exe installer.exe --child sleep-then-exit-7");
    return outcome.installerRan ? static_cast<int>(outcome.code) : -1;
});

// An installer that starts a second stage from its own folder and ends at once, as bootstrappers
// do; the second stage reads its folder for a while, then leaves a mark. Both run with the
// machine's environment: the mark lies in the machine's temporary directory.
std::wstring SecondStageMark() {
    return MachineTempDir() + L"second-stage-done.txt";
}

int SecondStage(DWORD ms) {
    ::Sleep(ms);
    WriteTextFile(SecondStageMark(), "done");
    return 0;
}
const ChildRegistration shortStage(L"second-stage-short", [] { return SecondStage(1500); });
const ChildRegistration longStage(L"second-stage-long", [] { return SecondStage(4000); });

int Bootstrap(const wchar_t* stage) {
    const UniqueHandle started = StartChildFrom(ThisExecutable(), stage);
    return started ? 3 : 99;
}
const ChildRegistration shortBootstrapper(L"bootstrapper-short",
                                          [] { return Bootstrap(L"second-stage-short"); });
const ChildRegistration longBootstrapper(L"bootstrapper-long",
                                         [] { return Bootstrap(L"second-stage-long"); });
// A bootstrapper whose stage asks to leave the job: 0 when that start is refused.
const ChildRegistration breakawayBootstrapper(L"bootstrapper-breakaway", [] {
    WriteTextFile(SecondStageMark(), "no stage");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION information = {};
    std::wstring line = L"\"" + ThisExecutable() + L"\" --child second-stage-short";
    if (::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_BREAKAWAY_FROM_JOB,
                         nullptr, nullptr, &startup, &information)) {
        ::CloseHandle(information.hThread);
        ::CloseHandle(information.hProcess);
        return 7;
    }
    return ::GetLastError() == ERROR_ACCESS_DENIED ? 0 : 8;
});

// Launches the packaged installer.exe as a bootstrapper, waiting for what it starts up to the
// bound in LAUNCH_TEST_BOUND_MS, and reports what was left for the next restart.
std::wstring RestartReportPath() {
    return TempDir() + L"restart-report.txt";
}

std::wstring g_restartReport;
BOOL WINAPI RecordingMoveAtRestart(LPCWSTR path, LPCWSTR target, DWORD flags) {
    if (target != nullptr || flags != MOVEFILE_DELAY_UNTIL_REBOOT)
        return FALSE;
    g_restartReport += std::wstring(path) + L"\n";
    WriteTextFile(RestartReportPath(), Narrow(g_restartReport));
    return TRUE;
}

int LaunchBootstrapper() {
    g_os.MoveFileExW = RecordingMoveAtRestart;
    wchar_t bound[16] = {};
    ::GetEnvironmentVariableW(L"LAUNCH_TEST_BOUND_MS", bound, 16);
    wchar_t stage[16] = {};
    ::GetEnvironmentVariableW(L"LAUNCH_TEST_STAGE", stage, 16);
    const RunOutcome outcome =
        RunStub(std::wstring(L"setup.exe installer.exe --child bootstrapper-") + stage,
                static_cast<DWORD>(_wtoi(bound)));
    return outcome.installerRan ? static_cast<int>(outcome.code) : -1;
}

const ChildRegistration launchBootstrapper(L"launch-bootstrapper", LaunchBootstrapper);

// The job's messages never come: the wait reads the job's count instead.
BOOL WINAPI NoMessage(HANDLE, LPDWORD, PULONG_PTR, LPOVERLAPPED*, DWORD milliseconds) {
    ::Sleep(milliseconds);
    ::SetLastError(WAIT_TIMEOUT);
    return FALSE;
}
const ChildRegistration messagesLost(L"launch-bootstrapper-messages-lost", [] {
    g_os.GetQueuedCompletionStatus = NoMessage;
    return LaunchBootstrapper();
});

// A job of the caller's that allows no other, as Windows 7 has it.
BOOL WINAPI NoNestedJob(HANDLE, HANDLE) {
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}
const ChildRegistration noJob(L"launch-bootstrapper-without-job", [] {
    g_os.AssignProcessToJobObject = NoNestedJob;
    return LaunchBootstrapper();
});

// Windows parses the text again: a path that leads elsewhere than the file held (a trailing dot
// trimmed, a short name, a link), shown through the seam as an open of this very test binary.
std::wstring g_misleading;
HANDLE WINAPI MisleadingOpen(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                             DWORD disposition, DWORD flags, HANDLE templ) {
    const std::wstring text = path;
    const bool lead =
        text.size() >= g_misleading.size() &&
        text.compare(text.size() - g_misleading.size(), g_misleading.size(), g_misleading) == 0;
    return ::CreateFileW(lead ? ThisExecutable().c_str() : path, access, share, sa, disposition,
                         flags, templ);
}
const ChildRegistration misled(L"launch-misled", [] {
    g_os.CreateProcessW = RecordingStart;
    g_os.CreateFileW = MisleadingOpen;
    wchar_t name[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"LAUNCH_TEST_MISLEAD", name, MAX_PATH);
    g_misleading = name;
    return Launched(L"setup.exe");
});

// The desktop user renamed the running image, put a file of theirs at its path and holds an
// opportunistic lock on it; Wine grants none, so the seam answers the image's open as Windows
// does while such a lock is broken: a handle, and STATUS_OPLOCK_BREAK_IN_PROGRESS. The options
// of that open are kept: it must have asked not to wait.
ULONG g_imageOpenOptions = 0;
LONG NTAPI ImageUnderALock(PHANDLE file, ACCESS_MASK access, PVOID attributes, PVOID status,
                           PLARGE_INTEGER allocation, ULONG fileAttributes, ULONG share,
                           ULONG disposition, ULONG options, PVOID extended, ULONG length) {
    const LONG result =
        RealSystemCalls().NtCreateFile(file, access, attributes, status, allocation, fileAttributes,
                                       share, disposition, options, extended, length);
    const auto* object = static_cast<OBJECT_ATTRIBUTES*>(attributes);
    const std::wstring name(object->ObjectName->Buffer,
                            object->ObjectName->Length / sizeof(wchar_t));
    const std::wstring image = CUtility::GetModulePath();
    const std::wstring leaf = image.substr(image.rfind(L'\\'));
    const bool isImage = object->RootDirectory == nullptr && name.size() > leaf.size() &&
                         ::CompareStringOrdinal(name.c_str() + name.size() - leaf.size(), -1,
                                                leaf.c_str(), -1, TRUE) == CSTR_EQUAL;
    if (!isImage || result < 0)
        return result;
    g_imageOpenOptions = options;
    constexpr LONG kOplockBreakInProgress = 0x00000108;
    return kOplockBreakInProgress;
}

const ChildChecks kLockedImage = {"the image was opened", "without waiting for a lock",
                                  "nothing was started",
                                  "the run failed as one that started "
                                  "nothing (1603)"};
const ChildRegistration lockedImage(L"launch-image-under-a-lock", [] {
    g_os.CreateProcessW = RecordingStart;
    g_os.NtCreateFile = ImageUnderALock;
    const RunOutcome outcome = RunStub(L"setup.exe");
    return kLockedImage.ExitCode({g_imageOpenOptions != 0,
                                  (g_imageOpenOptions & FILE_COMPLETE_IF_OPLOCKED) != 0,
                                  !outcome.installerRan, outcome.code == kInstallFailure});
});

// The single-instance mutex's name taken before the run: by an event, as any user may create
// one in the global namespace, or unreachable (a directory of the name missing). Run with the
// guard made as the stub makes it, where nobody sees the refusal's box; the run's exit code.
int RunGuardedBy(const wchar_t* name) {
    g_os.CreateProcessW = RecordingStart;
    g_os.GetUserObjectInformationW = InvisibleStation;
    const CInstanceMutex guard(name);
    RunInputs inputs;
    inputs.arguments = {L"setup.exe"};
    inputs.commandLine = L"setup.exe";
    inputs.guard = &guard;
    return static_cast<int>(RunMainSequence(inputs).code);
}

constexpr wchar_t kTakenGuardName[] = L"Global\\unpack-launch-test-guard";
const ChildRegistration guardTakenByAnEvent(L"launch-guard-taken-by-an-event", [] {
    const UniqueHandle squatter(::CreateEventW(nullptr, TRUE, FALSE, kTakenGuardName));
    return squatter ? RunGuardedBy(kTakenGuardName) : -2;
});
const ChildRegistration guardUnreachable(L"launch-guard-unreachable",
                                         [] { return RunGuardedBy(L"Global\\missing\\guard"); });

// --- The parent side -------------------------------------------------------------------------

std::vector<std::string> Report() {
    const std::vector<unsigned char> bytes = ReadBytes(ReportPath());
    std::vector<std::string> lines;
    std::string line;
    for (const unsigned char c : bytes) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line += static_cast<char>(c);
        }
    }
    lines.push_back(line);
    return lines;
}

// What a launch was given: the program, its command line, its folder, whether it got a standard
// output, and its environment.
struct Started {
    std::string application;
    std::string commandLine;
    std::string directory;
    bool output = false;
    std::map<std::string, std::string> environment; // names upper-cased
};

std::optional<Started> Recorded() {
    const std::vector<std::string> lines = Report();
    if (lines.size() < 4)
        return std::nullopt;
    Started started{lines[0], lines[1], lines[2], lines[3] == "output", {}};
    for (size_t i = 4; i < lines.size(); ++i) {
        const size_t equals = lines[i].find('=', 1);
        std::string name = lines[i].substr(0, equals);
        for (char& c : name)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        started.environment[name] = lines[i].substr(equals + 1);
    }
    return started;
}

// The log of the child's run, for a failed check.
std::string LogText() {
    std::wstring text;
    for (const std::wstring& message : LogMessages())
        text += message + L"\n";
    return Narrow(text);
}

std::string CommandProcessor() {
    wchar_t windows[MAX_PATH] = {};
    ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    return Narrow(kExpectedWow64 ? std::wstring(windows) + L"\\sysnative\\cmd.exe"
                                 : std::wstring(system) + L"\\cmd.exe");
}

class Launch : public PackedChildTest {
protected:
    Launch() : PackedChildTest(L"launch-test") {}

    void SetUp() override {
        PackedChildTest::SetUp();
        ::DeleteFileW(ReportPath().c_str());
    }
    void TearDown() override {
        ::SetEnvironmentVariableW(L"LAUNCH_TEST_FILE", nullptr);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\.msi");
        ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Classes\\Evil.Package");
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.unpacktest");
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\UnpackTest.Document");
        ::DeleteFileW(ReportPath().c_str());
        ::DeleteFileW((LogPath() + L".txt").c_str());
        PackedChildTest::TearDown();
    }

    int Run(const Entries& entries, const wchar_t* child) {
        return SpawnChildFrom(PackedCopy(entries), child);
    }
};

TEST_F(Launch, TheDefaultScriptGetsTheMachinesEnvironmentAndNoPathOfTheUsers) {
    ASSERT_EQ(Run({{"run.bat", "@echo off"}}, L"launch-default"), 0);
    const std::optional<Started> started = Recorded();
    ASSERT_TRUE(started.has_value()) << LogText();
    EXPECT_EQ(started->application, CommandProcessor());
    // The output goes through the handle given: no text of the temporary directory's on cmd's
    // line, which cmd would read for %NAME% and "&".
    EXPECT_EQ(started->commandLine, "\"" + CommandProcessor() + "\" /D /E:ON /V:OFF /c run.bat");
    EXPECT_TRUE(started->output);
    EXPECT_EQ(started->directory, Narrow(folder));

    wchar_t windows[MAX_PATH] = {};
    ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    const auto& environment = started->environment;
    EXPECT_EQ(environment.count("CALLER_SECRET"), 0u);
    EXPECT_EQ(environment.count("NODEFAULTCURRENTDIRECTORYINEXEPATH"), 0u);
    ASSERT_EQ(environment.count("WINDIR"), 1u);
    EXPECT_EQ(environment.at("WINDIR"), Narrow(windows));
    ASSERT_EQ(environment.count("PATH"), 1u);
    EXPECT_EQ(environment.at("PATH").find("userbin"), std::string::npos) << environment.at("PATH");
    EXPECT_NE(environment.at("PATH").find("system32"), std::string::npos) << environment.at("PATH");
}

// Wine does not merge the user's classes into HKEY_CLASSES_ROOT, as Windows does; the launch
// reads the machine's, so a class of the user's is never even looked at.
TEST_F(Launch, ADocumentOpensWithTheMachinesAssociationNeverTheUsers) {
    UniqueKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes\\.msi", 0, nullptr, 0,
                                KEY_ALL_ACCESS, nullptr, key.put(), nullptr),
              ERROR_SUCCESS);
    ::RegSetValueExW(key.get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(L"Evil.Package"),
                     sizeof L"Evil.Package");
    ASSERT_EQ(::RegSetValueW(HKEY_CURRENT_USER,
                             L"Software\\Classes\\Evil.Package\\shell\\open\\command", REG_SZ,
                             L"C:\\evil.exe \"%1\"", 0),
              ERROR_SUCCESS);
    ::SetEnvironmentVariableW(L"LAUNCH_TEST_FILE", L"SETUP.MSI");

    ASSERT_EQ(Run({{"setup.msi", "not really"}}, L"launch-named"), 0);
    const std::optional<Started> started = Recorded();
    ASSERT_TRUE(started.has_value()) << LogText();
    wchar_t command[MAX_PATH * 2] = {};
    LONG size = sizeof command;
    ASSERT_EQ(::RegQueryValueW(HKEY_LOCAL_MACHINE,
                               L"Software\\Classes\\Msi.Package\\shell\\open\\command", command,
                               &size),
              ERROR_SUCCESS);
    const std::string machine = Narrow(command);
    EXPECT_EQ(started->application, machine.substr(0, machine.find(' '))) << machine;
    EXPECT_NE(started->commandLine.find("\"" + Narrow(folder) + "setup.msi\""), std::string::npos)
        << started->commandLine;
    EXPECT_NE(started->commandLine.find("/qn"), std::string::npos) << started->commandLine;
    EXPECT_EQ(started->commandLine.find("evil"), std::string::npos) << started->commandLine;
    EXPECT_TRUE(Contains(LogMessages(), L"[CUnPackFileApp::InitInstance] execute fail"));
}

// Windows registers Msi.Package's command as "%SystemRoot%\System32\msiexec.exe" ...: the
// variables in it are the machine's, whatever the caller set.
TEST_F(Launch, AnAssociationsVariablesAreTheMachinesNeverTheCallers) {
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\.unpacktest", nullptr,
                                REG_SZ, L"UnpackTest.Document", sizeof L"UnpackTest.Document"),
              ERROR_SUCCESS);
    const wchar_t open[] = L"\"%windir%\\system32\\notepad.exe\" \"%1\"";
    ASSERT_EQ(::RegSetKeyValueW(HKEY_LOCAL_MACHINE,
                                L"Software\\Classes\\UnpackTest.Document\\shell\\open\\command",
                                nullptr, REG_EXPAND_SZ, open, sizeof open),
              ERROR_SUCCESS);
    ::SetEnvironmentVariableW(L"LAUNCH_TEST_FILE", L"notes.unpacktest");

    ASSERT_EQ(Run({{"notes.unpacktest", "text"}}, L"launch-named"), 0);
    const std::optional<Started> started = Recorded();
    ASSERT_TRUE(started.has_value()) << LogText();
    wchar_t windows[MAX_PATH] = {};
    ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_EQ(started->application, Narrow(windows) + "\\system32\\notepad.exe");
}

TEST_F(Launch, ANameThatIsNoPackagedFileIsNeverStartedAndTheFolderGoes) {
    for (const wchar_t* name : {L"..\\unpack.log", L"C:\\windows\\system32\\cmd.exe", L"absent.exe",
                                L"setup.msi:stream", L"."}) {
        ::DeleteFileW(LogPath().c_str());
        ::SetEnvironmentVariableW(L"LAUNCH_TEST_FILE", name);
        ASSERT_EQ(Run({{"setup.msi", "x"}}, L"launch-named"), 0) << Narrow(name);
        EXPECT_FALSE(Exists(ReportPath())) << Narrow(name) << " was started";
        EXPECT_TRUE(Contains(LogMessages(), L"[CUnPackFileApp::InitInstance] execute skipped: " +
                                                std::wstring(name) +
                                                L" is not a file this run extracted"))
            << Narrow(name);
        EXPECT_FALSE(Exists(folder)) << Narrow(name);
    }
}

TEST_F(Launch, AFailedWaitPollsUntilTheInstallerHasReallyEnded) {
    const std::vector<unsigned char> self = ReadBytes(ThisExecutable());
    ASSERT_EQ(Run({{"installer.exe", std::string(self.begin(), self.end())}},
                  L"launch-with-failing-wait"),
              1);
    EXPECT_FALSE(Exists(folder));
    EXPECT_TRUE(Contains(LogMessages(), L"[CUnPackFileApp::InitInstance] execute done code:7"))
        << "the folder went before the installer ended";
}

// What is started is what is held: a path the launch would hand on that reaches another file or
// folder starts nothing, and the folder goes.
TEST_F(Launch, APathThatReachesAnotherFileThanTheOneHeldStartsNothing) {
    for (const std::wstring& misled : {std::wstring(L"\\run.bat"), folder}) {
        ::DeleteFileW(LogPath().c_str());
        ::SetEnvironmentVariableW(L"LAUNCH_TEST_MISLEAD", misled.c_str());
        ASSERT_EQ(Run({{"run.bat", "@echo off"}}, L"launch-misled"), 0);
        EXPECT_FALSE(Exists(ReportPath())) << "started, misled by " << Narrow(misled);
        const std::wstring missed = misled == folder ? folder : folder + L"run.bat";
        EXPECT_TRUE(Contains(LogMessages(), L"[CUnPackFileApp::InitInstance] execute skipped: " +
                                                missed +
                                                L" does not reach what this run extracted"))
            << LogText();
        EXPECT_FALSE(Exists(folder));
    }
}

class Bootstrapper : public Launch {
protected:
    void SetUp() override {
        Launch::SetUp();
        ::DeleteFileW(SecondStageMark().c_str());
        ::DeleteFileW(RestartReportPath().c_str());
    }
    void TearDown() override {
        // A second stage left running is waited for before its folder is removed.
        for (int i = 0; i < 100 && !Exists(SecondStageMark()); ++i)
            ::Sleep(100);
        ::SetEnvironmentVariableW(L"LAUNCH_TEST_STAGE", nullptr);
        ::SetEnvironmentVariableW(L"LAUNCH_TEST_BOUND_MS", nullptr);
        ::DeleteFileW(SecondStageMark().c_str());
        ::DeleteFileW(RestartReportPath().c_str());
        Launch::TearDown();
    }

    // `stage` "short" sleeps 1.5 s, "long" 4 s.
    int RunBootstrapper(const wchar_t* child, const wchar_t* stage, int boundMs) {
        ::SetEnvironmentVariableW(L"LAUNCH_TEST_STAGE", stage);
        ::SetEnvironmentVariableW(L"LAUNCH_TEST_BOUND_MS", std::to_wstring(boundMs).c_str());
        const std::vector<unsigned char> self = ReadBytes(ThisExecutable());
        return Run({{"installer.exe", std::string(self.begin(), self.end())}}, child);
    }
};

// The second stage runs from the folder after the bootstrapper has ended: the folder goes only
// after it, and the bootstrapper's exit code is the outcome. Whether the job's messages come or
// not.
TEST_F(Bootstrapper, WhatTheInstallerStartedIsWaitedForBeforeTheFolderGoes) {
    for (const wchar_t* child : {L"launch-bootstrapper", L"launch-bootstrapper-messages-lost"}) {
        ::DeleteFileW(LogPath().c_str());
        ::DeleteFileW(SecondStageMark().c_str());
        EXPECT_EQ(RunBootstrapper(child, L"short", 60000), 3) << Narrow(child);
        EXPECT_TRUE(Exists(SecondStageMark())) << "the run ended before the second stage";
        EXPECT_FALSE(Exists(folder));
        const std::vector<std::wstring> messages = LogMessages();
        EXPECT_TRUE(Contains(messages, L"[CUnPackFileApp::InitInstance] execute wait for 1 "
                                       L"processes the installer started, up to 60 s"))
            << LogText();
        EXPECT_EQ(messages.back(), L"[CUnPackFileApp::InitInstance] execute done code:3");
        EXPECT_FALSE(Exists(RestartReportPath()));
    }
}

// At the bound the second stage is left to run, never killed, and named in the log. Its program and
// the folder stay for the next run to remove: the machine's Temp is where users create names, so
// nothing there is left to the restart, whose deletions go by path.
TEST_F(Bootstrapper, WhatStillRunsAtTheBoundIsNamedAndLeftForTheNextRun) {
    EXPECT_EQ(RunBootstrapper(L"launch-bootstrapper", L"long", 1000), 3);
    EXPECT_FALSE(Exists(SecondStageMark())) << "the run waited past its bound";
    const std::wstring path = folder.substr(0, folder.size() - 1);
    EXPECT_FALSE(Exists(RestartReportPath())) << "left to the restart by path";
    bool named = false;
    for (const std::wstring& message : LogMessages())
        named =
            named || (message.find(L"Still running, left to run on: pid:") != std::wstring::npos &&
                      message.find(L"installer.exe") != std::wstring::npos);
    EXPECT_TRUE(named) << LogText();
    for (const std::wstring& left : {path + L"\\installer.exe", path})
        EXPECT_TRUE(
            Contains(LogMessages(),
                     L"[CUnPackFileApp::InitInstance] Left for the next run to remove:" + left))
            << LogText();
    for (int i = 0; i < 100 && !Exists(SecondStageMark()); ++i)
        ::Sleep(100);
    EXPECT_TRUE(Exists(SecondStageMark())) << "the second stage was killed";
}

// No stage escapes the wait by leaving the job: a start that asks to is refused.
TEST_F(Bootstrapper, AStageCannotLeaveTheJob) {
    EXPECT_EQ(RunBootstrapper(L"launch-bootstrapper", L"breakaway", 1000), 0) << LogText();
}

// Where no job can be had, the installer alone is waited for, and the log says so.
TEST_F(Bootstrapper, WithoutAJobTheInstallerAloneIsWaitedFor) {
    EXPECT_EQ(RunBootstrapper(L"launch-bootstrapper-without-job", L"short", 60000), 3);
    EXPECT_TRUE(Contains(LogMessages(), L"[CUnPackFileApp::InitInstance] The installer's "
                                        L"processes cannot be followed in a job (error 5): "
                                        L"waiting for the installer alone"))
        << LogText();
}

TEST_F(Launch, AnExitCodeThatCannotBeReadIsNoneAtAll) {
    const std::vector<unsigned char> self = ReadBytes(ThisExecutable());
    ASSERT_EQ(Run({{"installer.exe", std::string(self.begin(), self.end())}},
                  L"launch-with-unreadable-exit-code"),
              1603);
    EXPECT_TRUE(Contains(LogMessages(), L"[CUnPackFileApp::InitInstance] execute done code:-1"));
}

// What lies at the image's path under another program's lock is not waited for and not read:
// nothing is extracted, nothing starts, and the run ends as one that started nothing.
TEST_F(Launch, AnImageHeldUnderAnotherProgramsLockIsNeitherWaitedForNorRead) {
    const int code = Run({{"run.bat", "@echo off"}}, L"launch-image-under-a-lock");
    EXPECT_EQ(code, 0) << kLockedImage.Failed(code) << LogText();
    EXPECT_FALSE(Exists(ReportPath())) << "started";
    EXPECT_FALSE(Exists(folder));
    EXPECT_TRUE(Contains(LogMessages(), L"[CUnPack::FindHeader] The stub's file is in use by "
                                        L"another program: no package is read from it, nothing "
                                        L"is extracted"))
        << LogText();
}

// An object of another kind under the guard's name is no installation: the run goes on, unguarded,
// and says so. A guard that cannot be had otherwise may be another installation's: the run is
// refused as while one runs, with the same box (logged here, where nobody sees it).
TEST_F(Launch, AGuardNameTakenByAnotherKindOfObjectIsSaidAndStopsNothing) {
    const std::wstring refusal =
        L"[CUnPackFileApp::InitInstance] No visible desktop, not shown: Another installation is in "
        L"progress. You must complete that installation before starting this one.";
    EXPECT_NE(Run({{"run.bat", "@echo off"}}, L"launch-guard-taken-by-an-event"), 1618)
        << LogText();
    std::vector<std::wstring> messages = LogMessages();
    EXPECT_TRUE(Contains(messages, L"[CUnPackFileApp::InitInstance] The single-instance mutex's "
                                   L"name is taken by an object of another kind: it is no "
                                   L"installation, the run goes on unguarded"))
        << LogText();
    EXPECT_FALSE(Contains(messages, refusal));
    EXPECT_TRUE(Contains(messages, L"[CUnPack::UnPackFiles] UnPack total 1 files.")) << LogText();
    EXPECT_FALSE(Exists(folder));

    ::DeleteFileW(LogPath().c_str());
    EXPECT_EQ(Run({{"run.bat", "@echo off"}}, L"launch-guard-unreachable"), 1618) << LogText();
    messages = LogMessages();
    ASSERT_EQ(messages.size(), 2u) << LogText();
    EXPECT_EQ(messages[0].rfind(L"[CUnPackFileApp::InitInstance] The single-instance mutex could "
                                L"not be created (error ",
                                0),
              0u)
        << Narrow(messages[0]);
    EXPECT_EQ(messages[1], refusal);
    EXPECT_FALSE(Exists(folder));
}

} // namespace
