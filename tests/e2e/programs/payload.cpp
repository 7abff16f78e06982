// A stand-in installer for the end-to-end scenarios. It records how it was started into
// %TEMP%\payload-record.txt (UTF-8: the raw command line, then one argument per line), then
// optionally waits and exits with a chosen code:
//   payload.exe [--hold PATH] [--hold-shared PATH] [--mutex NAME] [--rewrite PATH] [--sleep MS]
//               [--exit CODE] [anything else]
// --hold keeps PATH open letting others read it only; --hold-shared lets them read and write it
// too, but not delete or rename it. --mutex creates a mutex of that name, with the default
// security a program without administrator rights would give it. --rewrite polls PATH for up to
// --sleep's time and puts a script of its own in it the first moment it may open it for writing,
// as a program of the user's can where no access-control list protects a file.
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

void Record(int argc, wchar_t** argv) {
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, temp);
    const std::wstring path = std::wstring(temp) + L"payload-record.txt";

    std::string text = "cmdline:" + Utf8(::GetCommandLineW()) + "\n";
    for (int i = 1; i < argc; ++i)
        text += "arg:" + Utf8(argv[i]) + "\n";
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
    const char planted[] = "@echo off\r\necho planted> \"%TEMP%\\planted-ran.txt\"\r\n";
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

} // namespace

int wmain(int argc, wchar_t** argv) {
    Record(argc, argv);
    int exitCode = 0;
    const wchar_t* rewrite = nullptr;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::wcscmp(argv[i], L"--hold") == 0)
            ::CreateFileW(argv[i + 1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
        else if (std::wcscmp(argv[i], L"--hold-shared") == 0)
            ::CreateFileW(argv[i + 1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        else if (std::wcscmp(argv[i], L"--mutex") == 0)
            ::CreateMutexW(nullptr, TRUE, argv[i + 1]);
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
