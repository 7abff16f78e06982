#include "app/MainSequence.h"

#include "app/Dispose.h"
#include "app/InstallerTemp.h"
#include "app/InstanceMutex.h"
#include "app/Launch.h"
#include "app/LaunchBookkeeping.h"
#include "app/LaunchPlan.h"
#include "app/RunEnd.h"
#include "app/UnPackFileApp.h"
#include "package/UnPack.h"
#include "registry/FileAssociation.h"
#include "res/resource.h"
#include "util/LogSources.h"
#include "util/MachineEnvironment.h"
#include "util/OsVersionClass.h"
#include "util/PathText.h"
#include "util/ProductMessage.h"
#include "util/Utility.h"

namespace {

using logsource::kInitInstance;

// On a desktop no one sees (a deployment engine's run as SYSTEM), the refusal is logged instead,
// so that an unattended run leaves a trace and ends at once.
void Refuse(UINT textId) {
    ShowProductMessage(LoadResourceString(textId), MB_OK | MB_ICONINFORMATION, kInitInstance);
}

void LogSquattedGuard(const CInstanceMutex& guard) {
    CUtility::Log(L"[%s] The single-instance mutex is held by a program without "
                  L"administrator rights (owner %s): it is no installation, the run goes on",
                  kInitInstance,
                  guard.PreviousOwner().empty() ? L"none" : guard.PreviousOwner().c_str());
}

// An object of another kind under the guard's name (an event, a semaphore, which any user may
// create in the global namespace) is no installation: like a mutex a program without
// administrator rights took, it stops nothing, or one object of a user's would refuse every
// deployment on the machine. Any other guard that cannot be had (a mutex this run may not open)
// may be another installation's, and the run is refused as if it were.
bool GuardNameTakenByAnotherKind(const CInstanceMutex& guard) {
    return guard.Unavailable() && guard.CreationError() == ERROR_INVALID_HANDLE;
}

void LogUnavailableGuard(const CInstanceMutex& guard) {
    if (GuardNameTakenByAnotherKind(guard))
        CUtility::Log(L"[%s] The single-instance mutex's name is taken by an object of another "
                      L"kind: it is no installation, the run goes on unguarded",
                      kInitInstance);
    else
        CUtility::Log(L"[%s] The single-instance mutex could not be created (error %u): the run "
                      L"is refused as if another installation were running",
                      kInitInstance, static_cast<unsigned>(guard.CreationError()));
}

// What the plan is made from: the extraction's outcome and folder, the command line, and what
// the machine says (its environment, read once, and its file associations).
LaunchPlan Plan(const RunInputs& inputs, std::uint32_t extraction, const CUnPack& unpack,
                bool installerTempIsOwn, const Environment* machine) {
    const ExtractionFolder& folder = unpack.Folder();
    PlanInputs plan;
    plan.extraction = extraction;
    plan.installerTempIsOwn = installerTempIsOwn;
    plan.arguments = inputs.arguments;
    plan.commandLine = inputs.commandLine;
    plan.folder = folder.Path();
    plan.folderIsOwn = folder.IsOwn();
    plan.extracted = [&folder](const std::wstring& entryPath) {
        std::wstring written;
        return folder.HasExtracted(entryPath, &written) ? written : std::wstring();
    };
    plan.commandProcessor = CommandProcessorPath();
    plan.machine = machine;
    plan.openCommand = [machine](const std::wstring& extension) {
        return machine != nullptr ? MachineOpenCommand(extension, *machine) : std::wstring();
    };
    return PlanLaunch(plan);
}

} // namespace

RunOutcome RunMainSequence(const RunInputs& inputs) {
    // The OS gate comes first: an old system is refused even while another stub runs.
    if (CUtility::GetOSVersionClass() <= kOsVista) {
        Refuse(IDS_OS_TOO_OLD);
        return RunOutcome{kOldWindowsVersion, false};
    }
    const bool refusedGuard =
        inputs.guard->Unavailable() && !GuardNameTakenByAnotherKind(*inputs.guard);
    if (refusedGuard)
        LogUnavailableGuard(*inputs.guard);
    if (inputs.guard->AnotherInstanceRuns() || refusedGuard) {
        Refuse(IDS_INSTALL_IN_PROGRESS);
        return RunOutcome{kInstallAlreadyRunning, false};
    }

    CUtility::OSInfo();
    if (inputs.guard->Squatted())
        LogSquattedGuard(*inputs.guard);
    else if (inputs.guard->Unavailable())
        LogUnavailableGuard(*inputs.guard);

    CUnPack unpack;
    const std::uint32_t extraction = unpack.StartAndWait();

    CUnPackFileApp::ApplyDeploymentCode();

    Environment machine;
    const bool haveMachine = MachineEnvironment(machine);
    // Made only for a package that may start, and deleted with the extraction folder.
    ExtractionFolder installerTemp;
    const bool haveTemp = extraction == kRunSucceeded && unpack.Folder().IsOwn() &&
                          MakeInstallerTemp(installerTemp, machine);
    const LaunchPlan plan =
        Plan(inputs, extraction, unpack, haveTemp, haveMachine ? &machine : nullptr);
    CUtility::Log(L"[%s] dir:%s file:%s param:%s", kInitInstance, unpack.Folder().Path().c_str(),
                  plan.file.c_str(), plan.parameters.c_str());
    if (haveTemp)
        CUtility::Log(L"[%s] The installer's TEMP and TMP:%s", kInitInstance,
                      WithoutTrailingBackslashes(installerTemp.Path()).c_str());

    // Destroyed before the extractor: it lives from the start time to the status.
    CRegistry productKey;
    const bool haveProductKey = SelectProductKey(productKey);
    if (haveProductKey)
        (void)RecordLaunchStart(productKey);

    const RunOutcome nothingStarted{extraction != kRunSucceeded ? extraction : kInstallFailure,
                                    false};
    const LaunchResult launch = Launch(plan, unpack.Folder(), installerTemp, machine,
                                       nothingStarted, inputs.waitForChildrenMs);
    KeepInstallerLogs(installerTemp);
    Dispose(unpack, installerTemp, launch.folder);
    LogLaunchEnd(launch);

    if (haveProductKey)
        (void)RecordLaunchStatus(productKey, launch.outcome.installerRan);
    RunOutcome outcome = launch.outcome;
    outcome.installerCodeUnread = outcome.installerRan && !launch.exitCodeKnown;
    if (!outcome.installerRan)
        outcome.notStarted = NothingStartedReason(extraction, plan.verdict);
    return outcome;
}
