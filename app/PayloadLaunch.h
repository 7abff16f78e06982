// Starting the package's installer from the extraction folder and waiting for it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CUnPack;

struct LaunchCommand {
    std::wstring file;       // what is started: the command processor, or the packaged file
    std::wstring parameters; // as it receives them
    std::wstring directory;  // the extraction folder, where it starts
    int show = SW_HIDE;
    // The extracted file that is started, which this run must have extracted: run.bat, or the
    // file named in named-file mode.
    std::wstring packagedFile;
    // Run.bat or a named batch file, in the command processor that `file` names.
    bool viaCommandProcessor = false;
    // The caller's parameters of a named batch file, read by cmd: they may hold no operator.
    std::wstring batchParameters;
    // The default script's standard output goes to the script-output file.
    bool capturesOutput = false;
};

// The command processor, by its full path in the system directory, never searched for; under
// WOW64 the 64-bit one, reached through sysnative, so that a script sees the machine as it is.
std::wstring CommandProcessorPath();

// Default mode: run.bat through `commandProcessor`, hidden, in the extraction folder `folder`.
LaunchCommand DefaultScriptCommand(const std::wstring& folder,
                                   const std::wstring& commandProcessor);

// Named-file mode: arguments[1] from the extraction folder, shown normally, with the parameters
// cut from the raw command line; a batch file runs through `commandProcessor` as run.bat does.
LaunchCommand NamedFileCommand(const std::wstring& folder,
                               const std::vector<std::wstring>& arguments,
                               const std::wstring& rawCommandLine,
                               const std::wstring& commandProcessor);

struct LaunchResult {
    bool launched = false; // the process was started (and waited for)
    DWORD exitCode = 0;    // its exit code, when known
    bool exitCodeKnown = false;
};

// Starts the command, waits for it to end and for the processes it started, up to
// `waitForChildrenMs` more (app/InstallerJob.h), then deletes the extraction folder; what a
// process still holds goes at the next restart. Only what this run extracted into its own folder
// is started, with the machine's environment: a program as itself, by its full path, a batch file
// in the system's command processor, and a document with the open command the machine registers
// for its extension, never the user's own association, nothing found through a search path; and
// only when the path text handed on reaches the file and folder this run holds.
LaunchResult LaunchAndWait(const LaunchCommand& command, CUnPack& unpack,
                           DWORD waitForChildrenMs) noexcept;
