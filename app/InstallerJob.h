// The installer's whole process tree. Installers start processes of their own and end before
// them (a bootstrapper's second stage, an uninstaller that relaunches itself from a copy, a
// script's `start`): the stub puts the installer into a job object before it runs a single
// instruction, and waits for every process of the job, up to a bound chosen when the stub was
// packed, before it deletes what they may still read: those that are part of the installation
// (app/InstallationProcess.h); the others are named and left to run at once. Nothing that ran is
// ever killed: only an installer that could not be resumed, and so never ran an instruction, is
// ended (app/Launch.cpp). No process may leave the job: a start that asks to break away fails, so
// that no stage escapes the wait.
#pragma once

#include "framework/UniqueHandle.h"

#include <windows.h>

#include <map>
#include <string>
#include <vector>

class InstallerJob {
public:
    InstallerJob() = default;
    InstallerJob(const InstallerJob&) = delete;
    InstallerJob& operator=(const InstallerJob&) = delete;

    // Creates the job (no process may break away from it; closing it kills nothing) with a
    // completion port, and puts the suspended process into it. False when the
    // process cannot be followed this way (a job of the caller's that allows no other, as on
    // Windows 7); the thread's last error tells why.
    [[nodiscard]] bool Follow(HANDLE suspendedProcess) noexcept;

    // Waits until no process of the job that is part of the installation runs, or `boundMs` have
    // passed; `folders` are the package's (the extraction folder, the installer's TEMP), ending in
    // a backslash. Each process is sorted once its program and command line can be read: one that
    // is no part of the installation is no longer waited for; a stage that ends with a code other
    // than 0 is logged with its code. The job's completion messages end a pause at once; since they
    // may be lost, the job's processes are read again every second. Returns the ids of the stages
    // still running at the bound.
    std::vector<DWORD> WaitForStages(DWORD boundMs, const std::vector<std::wstring>& folders);

    // Names in the log, once the installation's part is over, each process of the job that is no
    // part of it and still runs after `settleMs` (a console's host ends within that time unsaid);
    // it is left to run. A process that appears meanwhile (started by one that was ending, as
    // cmd's start hands a program to start.exe) is sorted as well; the ids of those that are part
    // of the installation and still run are returned, for the caller to say so.
    std::vector<DWORD> NameOthersLeftRunning(DWORD settleMs,
                                             const std::vector<std::wstring>& folders);

private:
    // A process of the job as the wait sorted it.
    struct Sorted {
        std::wstring image;
        bool stage = true;
        bool settled = false; // its program and command line were read: sorted for good
        UniqueHandle process; // a stage's, to read its exit code; null once it was read
    };

    // The ids of the processes of the job that still run; false when they cannot be read.
    bool ListRunning(std::vector<DWORD>& ids);
    void SortNew(const std::vector<DWORD>& running, const std::vector<std::wstring>& folders);
    void NoteEndedStages();

    UniqueHandle job_;
    UniqueHandle port_;
    std::map<DWORD, Sorted> sorted_; // by process id
};
