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
};

// Default mode: run.bat through the command processor, hidden, in the extraction folder (made the
// process's current directory). Under WOW64 the 64-bit command processor is reached through
// sysnative, so the script sees the machine as it is.
LaunchCommand DefaultScriptCommand(CUnPack& unpack);

// Named-file mode: arguments[1] from the extraction folder, shown normally, with the parameters
// cut from the raw command line.
LaunchCommand NamedFileCommand(CUnPack& unpack, const std::vector<std::wstring>& arguments,
                               const std::wstring& rawCommandLine);

// Starts the command through the shell and, when a process comes back, waits for it to end and
// deletes the extraction folder. True when the shell started it.
bool LaunchAndWait(const LaunchCommand& command, CUnPack& unpack) noexcept;
