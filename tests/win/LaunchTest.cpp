// The launch from a copy of this test binary that carries a package, run as a child process: the
// child extracts for real, then starts what it extracted. Starting is watched through the seam,
// which shows the program and command line a launch was given without running them.
#include "TestSupport.h"

#include "app/CommandLine.h"
#include "app/PayloadLaunch.h"
#include "package/UnPack.h"
#include "util/Utility.h"

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

int ExtractAndLaunch(const LaunchCommand& command, CUnPack& unpack) {
    return LaunchAndWait(command, unpack).launched ? 1 : 0;
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
    CUnPack unpack;
    unpack.StartAndWait();
    return ExtractAndLaunch(DefaultScriptCommand(unpack.GetUnpackDir(), CommandProcessorPath()),
                            unpack);
});

const ChildRegistration namedLaunch(L"launch-named", [] {
    g_os.CreateProcessW = RecordingStart;
    SetCallersEnvironment();
    CUnPack unpack;
    unpack.StartAndWait();
    wchar_t name[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"LAUNCH_TEST_FILE", name, MAX_PATH);
    const std::vector<std::wstring> arguments = {L"setup.exe", name, L"/qn"};
    return ExtractAndLaunch(NamedFileCommand(unpack.GetUnpackDir(), arguments,
                                             L"setup.exe " + std::wstring(name) + L" /qn",
                                             CommandProcessorPath()),
                            unpack);
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
    CUnPack unpack;
    unpack.StartAndWait();
    g_os.WaitForSingleObject = FailingWait;
    g_os.Sleep = ShortPause;
    const std::vector<std::wstring> arguments = {L"setup.exe", L"installer.exe", L"--child",
                                                 L"sleep-then-exit-7"};
    return ExtractAndLaunch(NamedFileCommand(unpack.GetUnpackDir(), arguments,
                                             L"setup.exe installer.exe --child sleep-then-exit-7",
                                             CommandProcessorPath()),
                            unpack);
});

BOOL WINAPI UnreadableExitCode(HANDLE, LPDWORD code) {
    *code = 0;
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// 0 when an installer whose exit code cannot be read is not taken to have given one.
const ChildRegistration unreadableCode(L"launch-with-unreadable-exit-code", [] {
    CUnPack unpack;
    unpack.StartAndWait();
    g_os.GetExitCodeProcess = UnreadableExitCode;
    const std::vector<std::wstring> arguments = {L"setup.exe", L"installer.exe", L"--child",
                                                 L"sleep-then-exit-7"};
    const LaunchResult result =
        LaunchAndWait(NamedFileCommand(unpack.GetUnpackDir(), arguments,
                                       L"setup.exe installer.exe --child sleep-then-exit-7",
                                       CommandProcessorPath()),
                      unpack);
    return result.launched && !result.exitCodeKnown ? 0 : 1;
});

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

TEST_F(Launch, AnExitCodeThatCannotBeReadIsNoneAtAll) {
    const std::vector<unsigned char> self = ReadBytes(ThisExecutable());
    ASSERT_EQ(Run({{"installer.exe", std::string(self.begin(), self.end())}},
                  L"launch-with-unreadable-exit-code"),
              0);
    EXPECT_TRUE(Contains(LogMessages(), L"[CUnPackFileApp::InitInstance] execute done code:-1"));
}

} // namespace
