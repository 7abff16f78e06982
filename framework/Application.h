// The application object: one per process, constructed as a global before the program starts.
// The entry point calls its InitInstance once, then ExitInstance, whose result is the process's
// exit code whatever InitInstance returned: the program has no window and no message loop of its
// own.
#pragma once

#include <windows.h>

class CWinApp {
public:
    CWinApp() noexcept;
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return FALSE; }
    // The process's exit code; 0 unless the application says otherwise.
    virtual int ExitInstance() { return 0; }

    // The application object of this process, or null before it is constructed.
    static CWinApp* Current() noexcept;

    // What the entry point does: run the start-up operation once, then exit with ExitInstance's
    // code.
    static int Run() noexcept;
};
