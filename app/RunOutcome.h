// How a run ended, as one value carried from the extraction's worker thread to the process's exit
// code. Deployment engines (Intune, Configuration Manager, Group Policy scripts) read the exit code
// to decide between success, a restart, a retry and failure: the stub as built exits 0 whatever
// happened; packed with `stubpack create --exit-code installer`, it passes the installer's exit
// code on and reports its own refusals with the Windows Installer codes engines know. The choice
// is signed into the image, never taken from the command line.
#pragma once

#include <cstdint>

inline constexpr std::uint32_t kRunSucceeded = 0;             // ERROR_SUCCESS
inline constexpr std::uint32_t kDiskFull = 112;               // ERROR_DISK_FULL
inline constexpr std::uint32_t kOldWindowsVersion = 1150;     // ERROR_OLD_WIN_VERSION
inline constexpr std::uint32_t kInstallFailure = 1603;        // ERROR_INSTALL_FAILURE
inline constexpr std::uint32_t kInstallAlreadyRunning = 1618; // ERROR_INSTALL_ALREADY_RUNNING
inline constexpr std::uint32_t kInstallPackageInvalid = 1620; // ERROR_INSTALL_PACKAGE_INVALID

struct RunOutcome {
    // The installer's own exit code once it ran; else the stub's reason, which is never success:
    // 1618 another installation runs, 1150 the system is too old, 1620 the package is not the one
    // the stub was signed with, 112 its volume has no room, 1603 anything else (an extraction that
    // failed, nothing to start, an installer whose exit code could not be read).
    std::uint32_t code = kInstallFailure;
    // Started and waited for.
    bool installerRan = false;
    // Ran, but its exit code could not be read: `code` is then 1603.
    bool installerCodeUnread = false;
    // Why nothing started, in a few words, for the run's closing line (app/RunEnd.h); null for a
    // run that started the installer, or whose code says it (a refusal before the run's steps).
    const wchar_t* notStarted = nullptr;
};
