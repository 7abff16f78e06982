// Runs a program and prints its whole exit code: a Linux caller of Wine sees only the low byte
// (3010 reaches it as 194).
//   exitcode.exe PROGRAM [ARGUMENT...]
// Prints "exit code N"; exits with 100 when the program could not be run.
#include <windows.h>

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 100;
    std::wstring commandLine = L"\"" + std::wstring(argv[1]) + L"\"";
    for (int i = 2; i < argc; ++i)
        commandLine += std::wstring(L" ") + argv[i];
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process))
        return 100;
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 0;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    std::printf("exit code %lu\n", static_cast<unsigned long>(exitCode));
    return 0;
}
