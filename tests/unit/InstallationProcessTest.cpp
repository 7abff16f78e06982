#include "app/InstallationProcess.h"

#include <gtest/gtest.h>

namespace {

const std::vector<std::wstring> kFolders{L"C:\\Windows\\Temp\\unpack\\",
                                         L"C:\\Windows\\Temp\\unpack.0123456789abcdef\\"};

JobProcessText Process(const std::wstring& image, const std::wstring& commandLine) {
    return JobProcessText{image, true, commandLine};
}

// The processes the installer leaves behind, sorted by their program and command line.
TEST(InstallationProcess, StagesRunOrAreHandedThePackageOthersAreNeither) {
    // A second stage from the package, in any case; one run from the installer's TEMP.
    EXPECT_TRUE(IsPartOfInstallation(
        Process(L"c:\\windows\\temp\\UNPACK\\stage.exe", L"stage.exe /s"), kFolders));
    EXPECT_TRUE(IsPartOfInstallation(
        Process(L"C:\\Windows\\Temp\\unpack.0123456789abcdef\\{A1}\\setup.exe", L"setup.exe"),
        kFolders));
    // A system program handed a file of the package, quoted or not, or the folder itself.
    EXPECT_TRUE(
        IsPartOfInstallation(Process(L"C:\\Windows\\System32\\msiexec.exe",
                                     L"msiexec /i \"C:\\Windows\\Temp\\unpack\\product.msi\" /qn"),
                             kFolders));
    EXPECT_TRUE(IsPartOfInstallation(Process(L"C:\\Windows\\System32\\robocopy.exe",
                                             L"robocopy C:\\Windows\\Temp\\unpack C:\\App"),
                                     kFolders));

    // The installed application, a browser with the release notes, the console's host.
    EXPECT_FALSE(IsPartOfInstallation(
        Process(L"C:\\Program Files\\App\\app.exe", L"\"C:\\Program Files\\App\\app.exe\""),
        kFolders));
    EXPECT_FALSE(IsPartOfInstallation(
        Process(L"C:\\Program Files\\Browser\\browser.exe", L"browser.exe https://x.test/notes"),
        kFolders));
    // A folder whose name only begins like the extraction folder's is another folder.
    EXPECT_FALSE(IsPartOfInstallation(
        Process(L"C:\\Windows\\Temp\\unpacked\\tool.exe", L"tool.exe"), kFolders));

    // The system's console host, even where its command line cannot be read (a 64-bit host to a
    // 32-bit stub); a conhost.exe of the package's is a stage like any of its programs.
    for (const wchar_t* host :
         {L"C:\\windows\\system32\\conhost.exe", L"C:\\Windows\\SysNative\\CONHOST.EXE"}) {
        ASSERT_TRUE(IsConsoleHost(host, L"C:\\Windows")) << host;
        EXPECT_FALSE(IsPartOfInstallation(JobProcessText{host, false, L"", true}, kFolders));
    }
    EXPECT_FALSE(IsConsoleHost(L"C:\\Windows\\Temp\\unpack\\conhost.exe", L"C:\\Windows\\"));
    EXPECT_FALSE(IsConsoleHost(L"C:\\Windows\\System32\\conhost.exe.bak", L"C:\\Windows"));

    // What cannot be read is waited for.
    EXPECT_TRUE(IsPartOfInstallation(Process(L"", L"app.exe"), kFolders));
    EXPECT_TRUE(IsPartOfInstallation(JobProcessText{L"C:\\Program Files\\App\\app.exe", false, L""},
                                     kFolders));
}

} // namespace
