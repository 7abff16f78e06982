// Starting what the plan says from the extraction folder and following it to its end: the
// installer starts suspended, goes into a job (app/InstallerJob.h), runs, and is waited for, and
// then the processes it started, up to a bound chosen when the stub was packed. It is started only
// when the path text the command hands on still reaches the file and folder this run holds, with
// the machine's environment, and for the default script with its output handle as the one handle
// it inherits.
#pragma once

#include "app/Dispose.h"
#include "app/LaunchPlan.h"
#include "app/RunOutcome.h"

#include <windows.h>

#include <string>

class ExtractionFolder;

struct LaunchResult {
    RunOutcome outcome;
    FolderUse folder = FolderUse::unused;
    DWORD exitCode = 0;         // the installer's, when known
    bool exitCodeKnown = false; // read after the installer had ended
};

// The command processor, by its full path in the system directory, never searched for; under
// WOW64 the 64-bit one, reached through sysnative, so that a script sees the machine as it is.
std::wstring CommandProcessorPath();

// Carries the plan out and says what became of it, in the log too. `nothingStarted` is the outcome
// when the plan starts nothing. Waits up to `waitForChildrenMs` for what the installer leaves
// running that is part of the installation (app/InstallerJob.h): a program of `folder` or
// `installerTemp`, or one handed a file of them; 0 waits for its own process only.
LaunchResult Launch(const LaunchPlan& plan, const ExtractionFolder& folder,
                    const ExtractionFolder& installerTemp, const Environment& machine,
                    RunOutcome nothingStarted, DWORD waitForChildrenMs);

// The launch's last line, once the folder is disposed of: the installer's exit code, -1 when it
// could not be read. Nothing for an installer that never ran.
void LogLaunchEnd(const LaunchResult& launch);
