// A stand-in installer for the end-to-end scenarios. It records how it was started into
// C:\marks\payload-record.txt (UTF-8: the raw command line, one argument per line, its ANSI code
// page, its current directory), then
// optionally waits and exits with a chosen code:
//   payload.exe [--hold PATH] [--hold-shared PATH] [--mutex NAME] [--event NAME] [--rewrite PATH]
//               [--sleep MS]
//               [--exit CODE] [--read-after MS NAME] [--spawn [--elsewhere] ARGUMENTS...]
//               [anything else]
// --hold keeps PATH open letting others read it only; --hold-shared lets them read and write it
// too, but not delete or rename it. --mutex creates a mutex of that name, with the default
// security a program without administrator rights would give it; --event an event of that name. --rewrite polls PATH for up to
// --sleep's time and puts a script of its own in it the first moment it may open it for writing,
// as a program of the user's can where no access-control list protects a file. --read-after waits,
// then reads NAME beside its own program and writes "read:" and what it read, or "missing", into
// C:\marks\second-stage.txt. --spawn starts its own program again with the ARGUMENTS that follow, in
// its own current directory (in C:\ with --elsewhere), and exits at once without waiting for it:
// a bootstrapper and its second stage.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty())
        return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                          nullptr, nullptr);
    return out;
}

// Where the scenarios look for what ran, whatever TEMP it was given.
constexpr wchar_t kMarks[] = L"C:\\marks\\";

void Record(int argc, wchar_t** argv) {
    const std::wstring path = std::wstring(kMarks) + L"payload-record.txt";

    std::string text = "cmdline:" + Utf8(::GetCommandLineW()) + "\n";
    for (int i = 1; i < argc; ++i)
        text += "arg:" + Utf8(argv[i]) + "\n";
    // Wine takes it from the locale of the environment, and passes that on to what is started.
    text += "acp:" + std::to_string(::GetACP()) + "\n";
    wchar_t cwd[MAX_PATH + 1] = {};
    ::GetCurrentDirectoryW(MAX_PATH, cwd);
    text += "cwd:" + Utf8(cwd) + "\n";

    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
}

void Rewrite(const wchar_t* path, DWORD milliseconds) {
    const char planted[] = "@echo off\r\necho planted> \"C:\\marks\\planted-ran.txt\"\r\n";
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    while (::GetTickCount64() < deadline) {
        const HANDLE file = ::CreateFileW(
            path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        DWORD written = 0;
        ::WriteFile(file, planted, sizeof planted - 1, &written, nullptr);
        ::CloseHandle(file);
        return;
    }
}

std::wstring OwnFolder() {
    wchar_t self[MAX_PATH + 1] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder = self;
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

void ReadAfter(DWORD milliseconds, const wchar_t* name) {
    ::Sleep(milliseconds);
    std::string text = "missing";
    const HANDLE file = ::CreateFileW((OwnFolder() + name).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        char content[256] = {};
        DWORD read = 0;
        ::ReadFile(file, content, sizeof content, &read, nullptr);
        ::CloseHandle(file);
        text = "read:" + std::string(content, read);
    }
    const HANDLE out = ::CreateFileW((std::wstring(kMarks) + L"second-stage.txt").c_str(),
                                     GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(out);
}

// Starts this program again with argv[first...], without waiting for it.
void Spawn(int argc, wchar_t** argv, int first) {
    bool elsewhere = first < argc && std::wcscmp(argv[first], L"--elsewhere") == 0;
    if (elsewhere)
        ++first;
    wchar_t self[MAX_PATH + 1] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring line = L"\"" + std::wstring(self) + L"\"";
    for (int i = first; i < argc; ++i)
        line += L" \"" + std::wstring(argv[i]) + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (::CreateProcessW(self, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                         elsewhere ? L"C:\\" : nullptr, &startup, &started)) {
        ::CloseHandle(started.hThread);
        ::CloseHandle(started.hProcess);
    }
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    Record(argc, argv);
    int exitCode = 0;
    const wchar_t* rewrite = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--spawn") == 0) {
            Spawn(argc, argv, i + 1);
            break;
        }
        if (i + 1 == argc)
            break;
        if (std::wcscmp(argv[i], L"--read-after") == 0 && i + 2 < argc)
            ReadAfter(static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 10)), argv[i + 2]);
        else if (std::wcscmp(argv[i], L"--hold") == 0)
            ::CreateFileW(argv[i + 1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        else if (std::wcscmp(argv[i], L"--hold-shared") == 0)
            ::CreateFileW(argv[i + 1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        else if (std::wcscmp(argv[i], L"--mutex") == 0)
            ::CreateMutexW(nullptr, TRUE, argv[i + 1]);
        else if (std::wcscmp(argv[i], L"--event") == 0)
            ::CreateEventW(nullptr, TRUE, FALSE, argv[i + 1]);
        else if (std::wcscmp(argv[i], L"--rewrite") == 0)
            rewrite = argv[i + 1];
        else if (std::wcscmp(argv[i], L"--sleep") == 0 && rewrite != nullptr)
            Rewrite(rewrite, std::wcstoul(argv[i + 1], nullptr, 10));
        else if (std::wcscmp(argv[i], L"--sleep") == 0)
            ::Sleep(static_cast<DWORD>(std::wcstoul(argv[i + 1], nullptr, 10)));
        else if (std::wcscmp(argv[i], L"--exit") == 0)
            exitCode = static_cast<int>(std::wcstol(argv[i + 1], nullptr, 10));
    }
    return exitCode;
}
