// Starts a program on a desktop of a window station of its own, as a service's process has one:
// nothing it shows reaches the display, and a box it shows waits for a press that never comes.
//   hiddendesk.exe TIMEOUT_MS PROGRAM [ARGUMENT...]
// Exits with the program's exit code, and prints it whole ("exit code N"); 200 when the program
// had to be ended after TIMEOUT_MS; 100 and more when the set-up failed (101: the new station says
// it is visible).
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

int wmain(int argc, wchar_t** argv) {
    if (argc < 3)
        return 100;
    HWINSTA station = ::CreateWindowStationW(L"unpack-unattended", 0, WINSTA_ALL_ACCESS, nullptr);
    if (station == nullptr)
        return 102;
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (::GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) &&
        (flags.dwFlags & WSF_VISIBLE) != 0)
        return 101;
    HWINSTA own = ::GetProcessWindowStation();
    if (!::SetProcessWindowStation(station))
        return 103;
    HDESK desktop = ::CreateDesktopW(L"Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
    ::SetProcessWindowStation(own);
    if (desktop == nullptr)
        return 104;

    std::wstring commandLine = L"\"" + std::wstring(argv[2]) + L"\"";
    for (int i = 3; i < argc; ++i)
        commandLine += std::wstring(L" \"") + argv[i] + L"\"";
    std::wstring where = L"unpack-unattended\\Default";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.lpDesktop = where.data();
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(argv[2], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &process))
        return 105;
    DWORD exitCode = 200;
    if (::WaitForSingleObject(process.hProcess, std::wcstoul(argv[1], nullptr, 10)) ==
        WAIT_OBJECT_0)
        ::GetExitCodeProcess(process.hProcess, &exitCode);
    else
        ::TerminateProcess(process.hProcess, 200);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    ::CloseDesktop(desktop);
    ::CloseWindowStation(station);
    std::printf("exit code %lu\n", static_cast<unsigned long>(exitCode));
    return static_cast<int>(exitCode);
}
