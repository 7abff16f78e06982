// What the run starts once the package is extracted, and how, or why nothing starts: decided
// without Windows, from the command line, the extraction's outcome, what this run holds in its
// folder, the machine's environment and the machine's file associations. The stub runs elevated,
// so only a file this run extracted into its own folder is started: a program as itself, by its
// full path; a batch file in the system's command processor; a document with the open command
// the machine registers for its extension, whose program is named by a full path too. Nothing is
// found through a search path or an association the desktop user can write.
#pragma once

#include "app/StartCommand.h"
#include "util/Environment.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct PlanInputs {
    std::uint32_t extraction = 0;        // the extraction's outcome (app/RunOutcome.h codes)
    std::vector<std::wstring> arguments; // as split by the runtime, the program first
    std::wstring commandLine;            // as the process was given it
    std::wstring folder;                 // the extraction folder, ending in a backslash
    bool folderIsOwn = false;            // created by this run and held since
    bool installerTempIsOwn = false;     // the installer's TEMP, likewise (app/InstallerTemp.h)
    // The path under which this run extracted the entry of that path (names compare without
    // case); empty when it extracted none.
    std::function<std::wstring(const std::wstring& entryPath)> extracted;
    // The system's command processor, by its full path.
    std::wstring commandProcessor;
    // The machine's environment; null when it could not be read, and then nothing starts.
    const Environment* machine = nullptr;
    // The open command the machine registers for an extension (".msi"), its variables expanded
    // against the machine's; empty when there is none.
    std::function<std::wstring(const std::wstring& extension)> openCommand;
};

enum class PlanVerdict {
    start,         // start `start`
    skip,          // nothing may start, for `reason`
    noAssociation, // a document the machine has no usable open command for
};

inline constexpr int kShowHidden = 0; // SW_HIDE
inline constexpr int kShowNormal = 1; // SW_SHOWNORMAL

struct LaunchPlan {
    // As the log names them: the command processor or the packaged file, the parameters it
    // receives, and the folder it starts in.
    std::wstring file;
    std::wstring parameters;
    std::wstring directory;
    int show = kShowHidden;

    PlanVerdict verdict = PlanVerdict::skip;
    std::wstring reason;
    StartCommand start;
    // The extracted file that is started, as the command line named it (run.bat in the default
    // mode), and the path the command hands on for it.
    std::wstring packagedFile;
    std::wstring packagedPath;
    // The default script: its standard output goes to the script-output file, and it runs with
    // the folder as the process's current directory.
    bool capturesOutput = false;
};

LaunchPlan PlanLaunch(const PlanInputs& inputs);
