// The application object: one per process, constructed as a global before the program starts.
// The entry point calls its InitInstance once; the process then exits with code 0 whatever
// InitInstance returned, since the program has no window and no message loop of its own.
#pragma once

#include <windows.h>

class CWinApp {
public:
    CWinApp() noexcept;
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return FALSE; }

    // The application object of this process, or null before it is constructed.
    static CWinApp* Current() noexcept;

    // What the entry point does: run the start-up operation once and exit with code 0.
    static int Run() noexcept;
};
