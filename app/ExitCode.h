// The process's exit code, which deployment engines (Intune, Configuration Manager, Group Policy
// scripts) read to decide between success, a restart, a retry and failure. The stub as built
// exits 0 whatever happened; packed with `stubpack create --exit-code installer`, it passes the
// installer's exit code on and reports its own refusals with the Windows Installer codes engines
// know. The choice is signed into the image, never taken from the command line.
#pragma once

#include "package/StubSettings.h"

#include <cstdint>

// How a run ended.
enum class RunEnd {
    installerEnded,      // started and waited for
    anotherInstallation, // the single-instance refusal
    systemTooOld,        // the OS gate's refusal
    packageRefused,      // not the package the stub was signed with, or changed in the folder
    diskFull,            // the extraction folder's volume had no room for the package
    extractionFailed,    // a file of the package could not be written
    nothingStarted,      // nothing to start, or it could not be started
};

inline constexpr std::uint32_t kDiskFull = 112;               // ERROR_DISK_FULL
inline constexpr std::uint32_t kOldWindowsVersion = 1150;     // ERROR_OLD_WIN_VERSION
inline constexpr std::uint32_t kInstallFailure = 1603;        // ERROR_INSTALL_FAILURE
inline constexpr std::uint32_t kInstallAlreadyRunning = 1618; // ERROR_INSTALL_ALREADY_RUNNING
inline constexpr std::uint32_t kInstallPackageInvalid = 1620; // ERROR_INSTALL_PACKAGE_INVALID

struct RunOutcome {
    RunEnd end = RunEnd::nothingStarted;
    std::uint32_t installerExitCode = 0;
    bool installerExitCodeKnown = false; // read after the installer had ended
};

// 0 for the zero choice; else the installer's own exit code, unchanged, or the code of the
// refusal. An installer whose exit code could not be read gives 1603, never 0.
std::uint32_t ProcessExitCode(package::ExitCodeChoice choice, const RunOutcome& outcome);
