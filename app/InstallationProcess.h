// Which processes of the installer's tree are part of the installation, and so waited for once the
// installer's own process has ended: those running a program of the package (from the extraction
// folder or the run's own temporary folder), and those handed a file of it on their command line
// (a bootstrapper's second stage, `msiexec /i "<folder>\product.msi"`, an uninstaller's copy of
// itself). A program from elsewhere that was handed nothing of the package (the installed
// application the installer's last page starts, a browser showing release notes) is none: the run
// ends with the installer and leaves it to run. What cannot be read counts as part: the run then
// waits, as it would for any stage.
#pragma once

#include <string>
#include <vector>

struct JobProcessText {
    std::wstring image; // the program's full path; empty when it cannot be read
    bool commandLineKnown = false;
    std::wstring commandLine; // as the process was given it
};

// `folders` end in a backslash. Paths compare as Windows compares names, without case.
[[nodiscard]] bool IsPartOfInstallation(const JobProcessText& process,
                                        const std::vector<std::wstring>& folders);
