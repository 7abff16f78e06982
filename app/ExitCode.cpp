#include "app/ExitCode.h"

std::uint32_t ProcessExitCode(package::ExitCodeChoice choice, const RunOutcome& outcome) {
    if (choice == package::ExitCodeChoice::zero)
        return 0;
    switch (outcome.end) {
    case RunEnd::installerEnded:
        return outcome.installerExitCodeKnown ? outcome.installerExitCode : kInstallFailure;
    case RunEnd::anotherInstallation:
        return kInstallAlreadyRunning;
    case RunEnd::systemTooOld:
        return kOldWindowsVersion;
    case RunEnd::packageRefused:
        return kInstallPackageInvalid;
    case RunEnd::diskFull:
        return kDiskFull;
    case RunEnd::extractionFailed:
    case RunEnd::nothingStarted:
        break;
    }
    return kInstallFailure;
}
