// Shows what a console program leaves on a real console: runs PROGRAM ARGS... in a console of
// its own, reads that console's screen buffer when the program has ended, and writes the lines
// shown there, as UTF-8, to its own standard output. Exits with the program's exit code, or with
// 200 and more when it could not run it. A test cannot see a console otherwise: with its output
// redirected, a program writes to a file, not to a console.
#include <windows.h>

#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int count = static_cast<int>(text.size());
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.data(), count, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), count, out.data(), size, nullptr, nullptr);
    return out;
}

HANDLE OpenInheritable(const wchar_t* name) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         &inherit, OPEN_EXISTING, 0, nullptr);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2)
        return 200;
    std::wstring command;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg.find(L'"') != std::wstring::npos || (!arg.empty() && arg.back() == L'\\'))
            return 201; // not needed by the tests, so not quoted
        command += (i > 1 ? L" \"" : L"\"") + arg + L"\"";
    }

    const HANDLE report = ::GetStdHandle(STD_OUTPUT_HANDLE);
    ::FreeConsole();
    if (!::AllocConsole())
        return 202;
    const HANDLE screen = OpenInheritable(L"CONOUT$");
    const HANDLE input = OpenInheritable(L"CONIN$");
    if (screen == INVALID_HANDLE_VALUE || input == INVALID_HANDLE_VALUE)
        return 203;
    // Wide enough that no line wraps, so each line on screen is one line written.
    ::SetConsoleScreenBufferSize(screen, COORD{400, 200});

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = screen;
    startup.hStdError = screen;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                          &startup, &process))
        return 204;
    DWORD status = 205;
    if (::WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0 ||
        !::GetExitCodeProcess(process.hProcess, &status))
        return 206;

    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!::GetConsoleScreenBufferInfo(screen, &info))
        return 207;
    std::wstring shown;
    const SHORT rows =
        info.dwCursorPosition.X > 0 ? info.dwCursorPosition.Y + 1 : info.dwCursorPosition.Y;
    for (SHORT row = 0; row < rows; ++row) {
        std::wstring line(static_cast<std::size_t>(info.dwSize.X), L' ');
        DWORD read = 0;
        if (!::ReadConsoleOutputCharacterW(screen, line.data(), info.dwSize.X, COORD{0, row},
                                           &read))
            return 208;
        line.resize(read);
        line.erase(line.find_last_not_of(L' ') + 1);
        shown += line + L"\n";
    }
    const std::string text = Utf8(shown);
    DWORD written = 0;
    if (!::WriteFile(report, text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        return 209;
    return static_cast<int>(status);
}
