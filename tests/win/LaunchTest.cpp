// The launch from a copy of this test binary that carries a package, run as a child process: the
// child extracts for real, then starts what it extracted. Starting is watched through the seam,
// which shows the program and command line a launch was given without running them.
#include "TestSupport.h"

#include "app/CommandLine.h"
#include "app/PayloadLaunch.h"
#include "package/UnPack.h"
#include "util/Utility.h"

#include <gtest/gtest.h>

namespace {

// --- The child side ------------------------------------------------------------------------

std::wstring ReportPath() {
    return TempDir() + L"launch-report.txt";
}

// Records what the launch asked for, and whether the environment still held the variable that
// would have the command processor search the PATH before the current folder.
BOOL WINAPI RecordingStart(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR directory,
                           LPSTARTUPINFOW, LPPROCESS_INFORMATION) {
    const bool searchFirst =
        ::GetEnvironmentVariableW(L"NoDefaultCurrentDirectoryInExePath", nullptr, 0) != 0;
    WriteTextFile(ReportPath(), Narrow(std::wstring(application) + L"\n" + commandLine + L"\n" +
                                       directory + L"\n" + (searchFirst ? L"search" : L"-")));
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

int ExtractAndLaunch(const LaunchCommand& command, CUnPack& unpack) {
    return LaunchAndWait(command, unpack) ? 1 : 0;
}

const ChildRegistration defaultLaunch(L"launch-default", [] {
    g_os.CreateProcessW = RecordingStart;
    ::SetEnvironmentVariableW(L"NoDefaultCurrentDirectoryInExePath", L"1");
    CUnPack unpack;
    unpack.StartAndWait();
    return ExtractAndLaunch(DefaultScriptCommand(unpack), unpack);
});

const ChildRegistration namedLaunch(L"launch-named", [] {
    g_os.CreateProcessW = RecordingStart;
    CUnPack unpack;
    unpack.StartAndWait();
    wchar_t name[MAX_PATH] = {};
    ::GetEnvironmentVariableW(L"LAUNCH_TEST_FILE", name, MAX_PATH);
    const std::vector<std::wstring> arguments = {L"setup.exe", name, L"/qn"};
    return ExtractAndLaunch(
        NamedFileCommand(unpack, arguments, L"setup.exe " + std::wstring(name) + L" /qn"), unpack);
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
    return ExtractAndLaunch(
        NamedFileCommand(unpack, arguments, L"setup.exe installer.exe --child sleep-then-exit-7"),
        unpack);
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
        ::DeleteFileW(ReportPath().c_str());
        ::DeleteFileW((LogPath() + L".txt").c_str());
        PackedChildTest::TearDown();
    }

    int Run(const Entries& entries, const wchar_t* child) {
        return SpawnChildFrom(PackedCopy(entries), child);
    }
};

TEST_F(Launch, TheDefaultScriptRunsInTheSystemsCommandProcessorWithoutAutoRunOrPathSearch) {
    ASSERT_EQ(Run({{"run.bat", "@echo off"}}, L"launch-default"), 0);
    const std::vector<std::string> report = Report();
    ASSERT_EQ(report.size(), 4u);
    wchar_t windows[MAX_PATH] = {};
    ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::string processor =
        Narrow(kExpectedWow64 ? std::wstring(windows) + L"\\sysnative\\cmd.exe"
                              : std::wstring(system) + L"\\cmd.exe");
    EXPECT_EQ(report[0], processor);
    EXPECT_EQ(report[1], "\"" + processor + "\" /D /c run.bat > \"" + Narrow(LogPath()) + ".txt\"");
    EXPECT_EQ(report[2], Narrow(folder));
    EXPECT_EQ(report[3], "-") << "the variable that puts the PATH first was left in place";
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
    const std::vector<std::string> report = Report();
    ASSERT_EQ(report.size(), 4u);
    wchar_t command[MAX_PATH * 2] = {};
    LONG size = sizeof command;
    ASSERT_EQ(::RegQueryValueW(HKEY_LOCAL_MACHINE,
                               L"Software\\Classes\\Msi.Package\\shell\\open\\command", command,
                               &size),
              ERROR_SUCCESS);
    const std::string machine = Narrow(command);
    EXPECT_EQ(report[0], machine.substr(0, machine.find(' '))) << machine;
    EXPECT_NE(report[1].find("\"" + Narrow(folder) + "setup.msi\""), std::string::npos)
        << report[1];
    EXPECT_NE(report[1].find("/qn"), std::string::npos) << report[1];
    EXPECT_EQ(report[1].find("evil"), std::string::npos) << report[1];
    EXPECT_TRUE(Contains(LogMessages(), L"[CUnPackFileApp::InitInstance] execute fail"));
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

} // namespace
