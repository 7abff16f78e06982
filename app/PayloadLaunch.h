// Starting the package's installer from the extraction folder and waiting for it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CUnPack;

struct LaunchCommand {
    std::wstring file;
    std::wstring parameters;
    std::wstring directory; // empty: the process's current directory
    int show = SW_HIDE;
    // The packaged file that is started, which this run must have extracted: run.bat, or the
    // file named in named-file mode.
    std::wstring packagedFile;
    bool redirectsOutput = false; // the default script's output goes to the log's ".txt"
};

// Default mode: run.bat through the command processor, hidden, in the extraction folder (made the
// process's current directory). The command processor is named by its full path in the system
// directory, never searched for; under WOW64 the 64-bit one is reached through sysnative, so the
// script sees the machine as it is.
LaunchCommand DefaultScriptCommand(CUnPack& unpack);

// Named-file mode: arguments[1] from the extraction folder, shown normally, with the parameters
// cut from the raw command line.
LaunchCommand NamedFileCommand(CUnPack& unpack, const std::vector<std::wstring>& arguments,
                               const std::wstring& rawCommandLine);

// Starts the command and waits for it to end, then deletes the extraction folder. Only what this
// run extracted into its own folder is started: a program as itself, by its full path, and a
// document with the open command the machine registers for its extension, never the user's own
// association, nothing found through a search path. True when it was started.
bool LaunchAndWait(const LaunchCommand& command, CUnPack& unpack) noexcept;
