// Wine's desktop process, which Windows always has. Wine starts it for the first program that
// touches a window and closes it a second after the last such program has ended; the stub touches
// one in every run (its preloads register window classes), so runs more than a second apart
// would each pay for a fresh desktop process, a cost no Windows machine has.
//   desktop.exe          attaches to the desktop and returns: timed with and without a desktop
//                        up, the difference is what a fresh one costs
//   desktop.exe --hold   attaches and stays until it is killed, keeping the desktop up
#include <windows.h>

#include <cwchar>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
    ::GetDesktopWindow();
    if (std::wcsstr(commandLine, L"--hold") != nullptr)
        ::Sleep(INFINITE);
    return 0;
}
