#include "app/LaunchPlan.h"

#include "app/RunOutcome.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kFolder = L"C:\\Windows\\Temp\\unpack\\"; // 23 characters

// A name of `length` characters ending in `extension`, in folders of 40 characters.
std::wstring EntryOfLength(std::size_t length, const std::wstring& extension) {
    std::wstring name;
    while (name.size() + 41 + extension.size() + 1 <= length)
        name += std::wstring(40, L'd') + L"\\";
    return name + std::wstring(length - name.size() - extension.size(), L'f') + extension;
}

LaunchPlan PlanFor(const std::wstring& folder, std::vector<std::wstring> arguments,
                   bool installerTempIsOwn = true) {
    static const Environment machine;
    PlanInputs inputs;
    inputs.extraction = kRunSucceeded;
    inputs.commandLine = L"setup.exe";
    for (size_t i = 1; i < arguments.size(); ++i)
        inputs.commandLine += L" " + arguments[i];
    inputs.arguments = std::move(arguments);
    inputs.folder = folder;
    inputs.folderIsOwn = true;
    inputs.installerTempIsOwn = installerTempIsOwn;
    inputs.extracted = [](const std::wstring& entryPath) { return entryPath; };
    inputs.commandProcessor = L"C:\\Windows\\system32\\cmd.exe";
    inputs.machine = &machine;
    return PlanLaunch(inputs);
}

TEST(LaunchPlan, AFileWhosePathPasses259CharactersIsRefusedByItsLength) {
    for (const std::wstring extension : {L".exe", L".bat"}) {
        const std::wstring fits = EntryOfLength(259 - kFolder.size(), extension);
        EXPECT_EQ(PlanFor(kFolder, {L"setup.exe", fits, L"/q"}).verdict, PlanVerdict::start);

        const std::wstring deep = EntryOfLength(260 - kFolder.size(), extension);
        const LaunchPlan plan = PlanFor(kFolder, {L"setup.exe", deep, L"/q"});
        EXPECT_EQ(plan.verdict, PlanVerdict::skip);
        EXPECT_EQ(plan.reason, deep + L" has a path of 260 characters, and Windows starts nothing "
                                      L"from a path of more than 259");
    }
}

TEST(LaunchPlan, TheDefaultScriptInAFolderTooDeepIsRefusedByItsLength) {
    // With run.bat, 259 and 260 characters.
    const auto folder = [](std::size_t name) { return L"C:\\" + std::wstring(name, L'x') + L"\\"; };
    EXPECT_EQ(PlanFor(folder(248), {L"setup.exe"}).verdict, PlanVerdict::start);
    const LaunchPlan plan = PlanFor(folder(249), {L"setup.exe"});
    EXPECT_EQ(plan.verdict, PlanVerdict::skip);
    EXPECT_EQ(plan.reason, L"run.bat has a path of 260 characters, and Windows starts nothing "
                           L"from a path of more than 259");
}

// Nothing starts elevated without a TEMP of the run's own, and a batch file gets no parameter off
// the list; the switches and values it does get reach it inside the one quoted command.
TEST(LaunchPlan, ABatchFileStartsOnlyWithItsOwnTempAndListedParameters) {
    const LaunchPlan listed = PlanFor(kFolder, {L"setup.exe", L"install.bat", L"/q", L"A=C:\\x"});
    EXPECT_EQ(listed.verdict, PlanVerdict::start);
    EXPECT_EQ(
        listed.start.commandLine,
        L"\"C:\\Windows\\system32\\cmd.exe\" /D /E:ON /V:OFF /c \"\".\\install.bat\" /q A=C:\\x\"");

    const LaunchPlan noTemp = PlanFor(kFolder, {L"setup.exe", L"install.bat", L"/q"}, false);
    EXPECT_EQ(noTemp.verdict, PlanVerdict::skip);
    EXPECT_EQ(noTemp.reason, L"the installer's temporary folder could not be created");

    const LaunchPlan quoted = PlanFor(kFolder, {L"setup.exe", L"install.bat", L"\"/x==/x a\""});
    EXPECT_EQ(quoted.verdict, PlanVerdict::skip);
    EXPECT_EQ(quoted.reason,
              L"the parameters of install.bat hold \"\"\", which a batch file is not "
              L"given: only letters, digits and / - _ . : = \\ , +");
    // A program takes its parameters as its own runtime splits them.
    EXPECT_EQ(PlanFor(kFolder, {L"setup.exe", L"setup.exe", L"\"/x==/x a\""}).verdict,
              PlanVerdict::start);
}

} // namespace
