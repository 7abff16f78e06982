// The application object. Its constructor preloads system libraries from the system directory;
// InitInstance runs the main sequence (app/MainSequence.h) with the process's command line and
// the settings signed into the image. ExitInstance gives the process's exit code.
#pragma once

#include "framework/Application.h"

#include <cstdint>

class CUnPackFileApp : public CWinApp {
public:
    CUnPackFileApp() noexcept;
    ~CUnPackFileApp() override;

    BOOL InitInstance() override;
    // 0, unless the stub was packed to pass outcomes on (app/RunOutcome.h).
    int ExitInstance() override;

    // Limits every later library load to the system directory, where Windows can (since update
    // KB2533623 of Windows 7), then preloads the system libraries. The constructor's first step.
    static void SecureLibraryLoading() noexcept;

    // Takes the current directory out of the library search path and loads the system libraries
    // that later loads would otherwise look for next to the executable.
    static void PreloadSystemLibraries() noexcept;

    // Records the deployment code and region carried in the executable's file name, if any.
    static void ApplyDeploymentCode();

private:
    std::uint32_t exitCode_ = 0;
};
