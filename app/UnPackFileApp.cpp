#include "app/UnPackFileApp.h"

#include "app/InstanceMutex.h"
#include "app/MainSequence.h"
#include "app/RunEnd.h"
#include "app/RunEndLog.h"
#include "package/ImageSettings.h"
#include "util/LogSources.h"
#include "util/Utility.h"

#include <cstdlib>

namespace {

using logsource::kInitInstance;

std::vector<std::wstring> SplitArguments() {
    std::vector<std::wstring> arguments;
    for (int i = 0; i < __argc; ++i)
        arguments.emplace_back(__wargv[i] != nullptr ? __wargv[i] : L"");
    return arguments;
}

} // namespace

CUnPackFileApp::CUnPackFileApp() noexcept {
    SecureLibraryLoading();
}

CUnPackFileApp::~CUnPackFileApp() = default;

BOOL CUnPackFileApp::InitInstance() {
    RunInputs inputs;
    inputs.arguments = SplitArguments();
    inputs.commandLine = ::GetCommandLineW();
    inputs.guard = &theInstanceMutex;
    inputs.waitForChildrenMs = package::ImageSettings().waitChildrenSeconds * 1000;
    const RunOutcome outcome = RunMainSequence(inputs);
    if (package::ImageSettings().exitCode == package::ExitCodeChoice::installer)
        exitCode_ = outcome.code;
    if (exitCode_ != 0)
        CUtility::Log(L"[%s] exit code:%u", kInitInstance, static_cast<unsigned>(exitCode_));
    LogRunEnd(HowTheRunEnded(outcome), exitCode_);
    return FALSE;
}

int CUnPackFileApp::ExitInstance() {
    return static_cast<int>(exitCode_);
}
