#include "app/UnPackFileApp.h"

#include "app/CommandLine.h"
#include "app/ExitCode.h"
#include "app/InstanceMutex.h"
#include "app/LaunchBookkeeping.h"
#include "app/PayloadLaunch.h"
#include "package/ImageSettings.h"
#include "package/UnPack.h"
#include "res/resource.h"
#include "util/OsVersionClass.h"
#include "util/LogSources.h"
#include "util/ProductMessage.h"
#include "util/Utility.h"

#include <cstdlib>
#include <vector>

namespace {

using logsource::kInitInstance;

std::vector<std::wstring> SplitArguments() {
    std::vector<std::wstring> arguments;
    for (int i = 0; i < __argc; ++i)
        arguments.emplace_back(__wargv[i] != nullptr ? __wargv[i] : L"");
    return arguments;
}

// On a desktop no one sees (a deployment engine's run as SYSTEM), the refusal is logged instead,
// so that an unattended run leaves a trace and ends at once.
void Refuse(UINT textId) {
    ShowProductMessage(LoadResourceString(textId), MB_OK | MB_ICONINFORMATION, kInitInstance);
}

RunEnd NotStartedBecause(ExtractionEnd extraction) {
    switch (extraction) {
    case ExtractionEnd::refused:
        return RunEnd::packageRefused;
    case ExtractionEnd::noRoom:
        return RunEnd::diskFull;
    case ExtractionEnd::writeFailed:
        return RunEnd::extractionFailed;
    case ExtractionEnd::notRun:
    case ExtractionEnd::complete:
        break;
    }
    return RunEnd::nothingStarted;
}

} // namespace

CUnPackFileApp::CUnPackFileApp() noexcept {
    SecureLibraryLoading();
}

CUnPackFileApp::~CUnPackFileApp() = default;

BOOL CUnPackFileApp::InitInstance() {
    RunOutcome outcome;
    try {
        outcome = RunMainSequence();
    } catch (...) {
        // Out of memory: nothing more can be done.
    }
    exitCode_ = ProcessExitCode(package::ImageSettings().exitCode, outcome);
    if (exitCode_ != 0)
        CUtility::Log(L"[%s] exit code:%u", kInitInstance, static_cast<unsigned>(exitCode_));
    return FALSE;
}

int CUnPackFileApp::ExitInstance() {
    return static_cast<int>(exitCode_);
}

RunOutcome CUnPackFileApp::RunMainSequence() {
    // The OS gate comes first: an old system is refused even while another stub runs.
    if (CUtility::GetOSVersionClass() <= kOsVista) {
        Refuse(IDS_OS_TOO_OLD);
        return RunOutcome{RunEnd::systemTooOld};
    }
    if (theInstanceMutex.AnotherInstanceRuns()) {
        Refuse(IDS_INSTALL_IN_PROGRESS);
        return RunOutcome{RunEnd::anotherInstallation};
    }

    CUtility::OSInfo();
    if (theInstanceMutex.Squatted())
        CUtility::Log(L"[%s] The single-instance mutex is held by a program without "
                      L"administrator rights (owner %s): it is no installation, the run goes on",
                      kInitInstance,
                      theInstanceMutex.PreviousOwner().empty()
                          ? L"none"
                          : theInstanceMutex.PreviousOwner().c_str());

    CUnPack unpack;
    unpack.StartAndWait();

    ApplyDeploymentCode();

    const std::vector<std::wstring> arguments = SplitArguments();
    const std::wstring folder = unpack.GetUnpackDir();
    const LaunchCommand command =
        ChooseLaunchMode(static_cast<int>(arguments.size())) == LaunchMode::defaultScript
            ? DefaultScriptCommand(folder, CommandProcessorPath())
            : NamedFileCommand(folder, arguments, ::GetCommandLineW(), CommandProcessorPath());
    CUtility::Log(L"[%s] dir:%s file:%s param:%s", kInitInstance, folder.c_str(),
                  command.file.c_str(), command.parameters.c_str());

    // Destroyed before the extractor: it lives from the start time to the status.
    CRegistry productKey;
    const bool haveProductKey = SelectProductKey(productKey);
    if (haveProductKey)
        (void)RecordLaunchStart(productKey);

    const LaunchResult launch =
        LaunchAndWait(command, unpack, package::ImageSettings().waitChildrenSeconds * 1000);

    if (haveProductKey)
        (void)RecordLaunchStatus(productKey, launch.launched);

    if (launch.launched)
        return RunOutcome{RunEnd::installerEnded, launch.exitCode, launch.exitCodeKnown};
    return RunOutcome{NotStartedBecause(unpack.Ended())};
}
