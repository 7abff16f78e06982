// The application object. Its constructor preloads system libraries from the system directory;
// InitInstance is the whole main sequence: OS gate, single-instance check, extraction,
// deployment code, the installer's launch and wait, clean-up and bookkeeping.
#pragma once

#include "framework/Application.h"

class CUnPackFileApp : public CWinApp {
public:
    CUnPackFileApp() noexcept;
    ~CUnPackFileApp() override;

    BOOL InitInstance() override;

    // Takes the current directory out of the library search path and loads the system libraries
    // that later loads would otherwise look for next to the executable.
    static void PreloadSystemLibraries() noexcept;

    // Records the deployment code and region carried in the executable's file name, if any.
    static void ApplyDeploymentCode() noexcept;
};
