// Which processes of the installer's tree are part of the installation, and so waited for once the
// installer's own process has ended: those running a program of the package (from the extraction
// folder or the run's own temporary folder), and those handed a file of it on their command line
// (a bootstrapper's second stage, `msiexec /i "<folder>\product.msi"`, an uninstaller's copy of
// itself). A program from elsewhere that was handed nothing of the package (the installed
// application the installer's last page starts, a browser showing release notes) is none: the run
// ends with the installer and leaves it to run. What cannot be read counts as part: the run then
// waits, as it would for any stage. The system's console host is never part: it runs nothing of
// the installation, only hosts a console for what does (or for an application started in a console
// of its own, whose host then lives as long as it), and its command line may not be readable (a
// 64-bit host, to a 32-bit stub, where Windows lacks the query that reads any process's).
#pragma once

#include <string>
#include <vector>

struct JobProcessText {
    std::wstring image; // the program's full path; empty when it cannot be read
    bool commandLineKnown = false;
    std::wstring commandLine; // as the process was given it
    bool consoleHost = false; // the image is the system's console host (IsConsoleHost)
};

// Whether `image` is conhost.exe of the system directory under `windowsFolder` (System32, or as a
// 32-bit process may see it, SysNative or SysWOW64).
[[nodiscard]] bool IsConsoleHost(const std::wstring& image, const std::wstring& windowsFolder);

// `folders` end in a backslash. Paths compare as Windows compares names, without case.
[[nodiscard]] bool IsPartOfInstallation(const JobProcessText& process,
                                        const std::vector<std::wstring>& folders);
