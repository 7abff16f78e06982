// The installer's whole process tree. Installers start processes of their own and end before
// them (a bootstrapper's second stage, an uninstaller that relaunches itself from a copy, a
// script's `start`): the stub puts the installer into a job object before it runs a single
// instruction, and waits for every process of the job, up to a bound chosen when the stub was
// packed, before it deletes what they may still read. Nothing that ran is ever killed: only an
// installer that could not be resumed, and so never ran an instruction, is ended (app/Launch.cpp).
#pragma once

#include "framework/UniqueHandle.h"

#include <windows.h>

#include <vector>

class InstallerJob {
public:
    InstallerJob() = default;
    InstallerJob(const InstallerJob&) = delete;
    InstallerJob& operator=(const InstallerJob&) = delete;

    // Creates the job (processes may break away from it when they ask to; closing it kills
    // nothing) with a completion port, and puts the suspended process into it. False when the
    // process cannot be followed this way (a job of the caller's that allows no other, as on
    // Windows 7); the thread's last error tells why.
    [[nodiscard]] bool Follow(HANDLE suspendedProcess) noexcept;

    // Waits until no process of the job runs, or `boundMs` have passed. The job's completion
    // messages end the wait at once; since they may be lost, the job's count of active processes
    // is read as well. Returns the ids of the processes still running at the bound.
    std::vector<DWORD> WaitForAll(DWORD boundMs);

    // The ids of the processes of the job that still run.
    std::vector<DWORD> Running();

private:
    [[nodiscard]] bool NoneRunning() noexcept;

    UniqueHandle job_;
    UniqueHandle port_;
};
