// What a program of the desktop user can do to a file the elevated stub has extracted where no
// access-control list protects it: wait for the moment it may open the file for writing, and put
// a script of its own in it.
//   rewriter.exe PATH MILLISECONDS
// Creates %TEMP%\rewriter-ready.txt once it polls, then polls PATH for at most that long and
// rewrites it the first time it can; prints whether it did.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

const char kPlanted[] = "@echo off\r\necho planted> \"%TEMP%\\planted-ran.txt\"\r\n";

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3)
        return 100;
    const ULONGLONG deadline = ::GetTickCount64() + std::wcstoul(argv[2], nullptr, 10);
    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, temp);
    ::CloseHandle(::CreateFileW((std::wstring(temp) + L"rewriter-ready.txt").c_str(), GENERIC_WRITE,
                                0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    int rewritten = 0;
    while (::GetTickCount64() < deadline) {
        const HANDLE file = ::CreateFileW(
            argv[1], GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        DWORD written = 0;
        ::WriteFile(file, kPlanted, sizeof kPlanted - 1, &written, nullptr);
        ::CloseHandle(file);
        ++rewritten;
        break;
    }
    std::printf("rewritten %d\n", rewritten);
    return 0;
}
