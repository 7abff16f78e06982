// The main sequence of a run, from the OS gate to the status value: the OS gate, the
// single-instance check, then the four steps of a run, each in its own place: extract
// (package/UnPack.h), plan (app/LaunchPlan.h), launch (app/Launch.h) and dispose
// (app/Dispose.h), with the deployment code and the product key's bookkeeping between them.
#pragma once

#include "app/RunOutcome.h"

#include <windows.h>

#include <string>
#include <vector>

class CInstanceMutex;

struct RunInputs {
    std::vector<std::wstring> arguments;   // as split by the runtime, the program first
    std::wstring commandLine;              // as the process was given it
    const CInstanceMutex* guard = nullptr; // the single-instance mutex, created at start-up
    // How long the run waits for what the installer leaves running; 0 waits for its own process.
    DWORD waitForChildrenMs = 0;
};

RunOutcome RunMainSequence(const RunInputs& inputs);
