// Starts a program suspended, renames its file aside and copies another file into its place, then
// lets it run: what a program of the same user, watching the folder a signed installer was
// downloaded to, can do once the installer has been started elevated.
//   swapstart.exe PROGRAM REPLACEMENT [ARGUMENT...]
// The program's file ends up as PROGRAM.genuine. Exits with the program's exit code, or with 100
// and more when a step failed.
#include <windows.h>

#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3)
        return 100;
    const std::wstring program = argv[1];
    std::wstring commandLine = L"\"" + program + L"\"";
    for (int i = 3; i < argc; ++i)
        commandLine += std::wstring(L" \"") + argv[i] + L"\"";

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                          CREATE_SUSPENDED, nullptr, nullptr, &startup, &process))
        return 101;
    const std::wstring aside = program + L".genuine";
    if (!::MoveFileW(program.c_str(), aside.c_str())) {
        ::TerminateProcess(process.hProcess, 1);
        return 102;
    }
    if (!::CopyFileW(argv[2], program.c_str(), FALSE)) {
        ::TerminateProcess(process.hProcess, 1);
        return 103;
    }
    ::ResumeThread(process.hThread);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 104;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(exitCode);
}
