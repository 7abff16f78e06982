#include "app/LaunchPlan.h"

#include "app/CommandLine.h"
#include "app/RunOutcome.h"
#include "package/PackageFormat.h"

namespace {

// The longest path anything is started from: MAX_PATH less its terminating zero. Windows 7 has
// no way past it, and where a long-path-aware manifest lifts it for the file functions,
// CreateProcessW still fails for a longer current directory; a longer program path fails to start
// under Wine (error 123). A file that deep is refused by name rather than handed to a start that
// fails; cmd for a batch file and an association's program for a document are no better placed.
constexpr std::size_t kMaxStartPath = 259;

// Written out by hand: std::to_wstring would bring the runtime's wide printf into the stub.
std::wstring Decimal(std::size_t value) {
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + value % 10));
        value /= 10;
    } while (value != 0);
    return digits;
}

// Why the file is too deep to start; empty when it is not.
std::wstring LengthReason(const std::wstring& file, const std::wstring& path) {
    if (path.size() <= kMaxStartPath)
        return std::wstring();
    return file + L" has a path of " + Decimal(path.size()) +
           L" characters, and Windows starts nothing from a path of more than " +
           Decimal(kMaxStartPath);
}

// The command in the default mode: run.bat through the command processor, hidden.
void DefaultScript(const PlanInputs& inputs, LaunchPlan& plan) {
    plan.packagedFile = kDefaultScript;
    plan.file = inputs.commandProcessor;
    plan.parameters = DefaultScriptParameters();
    plan.show = kShowHidden;
    plan.capturesOutput = true;
}

// The command in named-file mode: the packaged file named first, shown normally, with the
// parameters cut from the raw command line; a batch file runs through the command processor as
// run.bat does, and is given only parameters on the script's list. True for a batch file.
bool NamedFile(const PlanInputs& inputs, LaunchPlan& plan, std::wstring& batchParameters) {
    plan.packagedFile = inputs.arguments.size() > 1 ? inputs.arguments[1] : std::wstring();
    plan.file = plan.packagedFile;
    plan.parameters = NamedFileParameters(inputs.commandLine, inputs.arguments);
    plan.show = kShowNormal;
    if (IsBatchExtension(FileExtension(plan.packagedFile))) {
        batchParameters = plan.parameters;
        plan.file = inputs.commandProcessor;
        plan.parameters = BatchFileParameters(plan.packagedFile, batchParameters);
        return true;
    }
    return false;
}

// A refused character as the log names it: quoted, or by its code when it is a control.
std::wstring CharacterNamed(wchar_t c) {
    if (c == L'\r' || c == L'\n')
        return L"a line break";
    if (c < L' ' || c == 0x7F) {
        constexpr wchar_t kHex[] = L"0123456789ABCDEF"; // as Unicode names code points
        std::wstring code = L"U+00";
        code += kHex[(c >> 4) & 0xF];
        code += kHex[c & 0xF];
        return code;
    }
    return std::wstring(L"\"") + c + L"\"";
}

// Why the extraction leaves nothing that may start; empty when it does not.
std::wstring ExtractionReason(const PlanInputs& inputs) {
    switch (inputs.extraction) {
    case kRunSucceeded:
        // An extraction that found no package is said below, by the file that is missing.
        return inputs.folderIsOwn ? std::wstring()
                                  : std::wstring(L"the extraction folder is not this run's own");
    case kInstallPackageInvalid:
        return L"the package is not the one the stub was signed with";
    default:
        return L"the extraction did not complete";
    }
}

// Why the command may not start from what this run extracted; empty when it may.
std::wstring CommandReason(const PlanInputs& inputs, const LaunchPlan& plan, bool viaCmd,
                           const std::wstring& batchParameters) {
    if (plan.packagedPath.empty())
        return plan.packagedFile + L" is not a file this run extracted";
    // The folder, the process's current directory, is shorter still.
    const std::wstring tooLong = LengthReason(plan.packagedFile, plan.packagedPath);
    if (!tooLong.empty())
        return tooLong;
    const wchar_t inName = BatchOperatorIn(plan.packagedFile);
    if (viaCmd && inName != L'\0')
        return plan.packagedFile + L" holds " + inName +
               L", which the command processor would read as an operator";
    // A script reads its own folder's name as text of its lines (%~dp0, %CD%, and again in a
    // call, or with delayed expansion): it may hold no operator, no "%" and no "!". The machine's
    // directory never does; a process without administrator rights extracts into its own.
    const wchar_t inFolder = ScriptFolderCharacterIn(inputs.folder);
    if (viaCmd && inFolder != L'\0')
        return std::wstring(L"the extraction folder's path holds ") + inFolder +
               L", which a batch file reading its own folder would run as a command";
    const wchar_t inParameters = BatchParameterRefusal(batchParameters);
    if (viaCmd && inParameters != L'\0')
        return L"the parameters of " + plan.packagedFile + L" hold " +
               CharacterNamed(inParameters) +
               L", which a batch file is not given: only letters, digits and / - _ . : = \\ , +";
    if (inputs.machine == nullptr)
        return L"the machine's environment could not be read";
    return std::wstring();
}

} // namespace

LaunchPlan PlanLaunch(const PlanInputs& inputs) {
    LaunchPlan plan;
    plan.directory = inputs.folder;
    std::wstring batchParameters;
    bool viaCmd = true;
    if (ChooseLaunchMode(static_cast<int>(inputs.arguments.size())) == LaunchMode::defaultScript)
        DefaultScript(inputs, plan);
    else
        viaCmd = NamedFile(inputs, plan, batchParameters);

    plan.reason = ExtractionReason(inputs);
    if (plan.reason.empty() && !inputs.installerTempIsOwn)
        plan.reason = L"the installer's temporary folder could not be created";
    if (plan.reason.empty()) {
        // A name the rule refuses (a drive, "..", a stream) is none this run extracted.
        const std::wstring written = package::IsSafeEntryPath(plan.packagedFile) && inputs.extracted
                                         ? inputs.extracted(plan.packagedFile)
                                         : std::wstring();
        plan.packagedPath = written.empty() ? std::wstring() : inputs.folder + written;
        plan.reason = CommandReason(inputs, plan, viaCmd, batchParameters);
    }
    if (!plan.reason.empty())
        return plan; // skip

    if (viaCmd) {
        plan.start = ProgramCommand(plan.file, plan.parameters);
    } else if (IsProgramExtension(FileExtension(plan.packagedPath))) {
        plan.start = ProgramCommand(plan.packagedPath, plan.parameters);
    } else {
        const std::wstring open = inputs.openCommand
                                      ? inputs.openCommand(FileExtension(plan.packagedPath))
                                      : std::wstring();
        if (!AssociationCommand(open, plan.packagedPath, plan.parameters, plan.start)) {
            plan.verdict = PlanVerdict::noAssociation;
            return plan;
        }
    }
    plan.verdict = PlanVerdict::start;
    return plan;
}
