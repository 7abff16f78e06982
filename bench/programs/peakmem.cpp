// Runs a program and prints the peak working set the system reports for it, in bytes:
//   peakmem.exe PROGRAM ARGS...   prints "peak_working_set=BYTES exit=CODE"
// The figure is read while the program runs (every 20 ms) and once more after it has ended,
// since some systems forget a process's counters once it is gone.
#include "framework/UniqueHandle.h"

#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

namespace {

SIZE_T PeakOf(HANDLE process, SIZE_T previous) {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    if (::GetProcessMemoryInfo(process, &counters, sizeof counters) &&
        counters.PeakWorkingSetSize > previous)
        return counters.PeakWorkingSetSize;
    return previous;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 2;
    std::wstring commandLine;
    for (int i = 1; i < argc; ++i)
        commandLine += std::wstring(i > 1 ? L" " : L"") + L"\"" + argv[i] + L"\"";

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started))
        return 1;
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);

    SIZE_T peak = 0;
    while (::WaitForSingleObject(process.get(), 20) == WAIT_TIMEOUT)
        peak = PeakOf(process.get(), peak);
    peak = PeakOf(process.get(), peak);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.get(), &exitCode);
    std::printf("peak_working_set=%llu exit=%lu\n", static_cast<unsigned long long>(peak),
                static_cast<unsigned long>(exitCode));
    return 0;
}
