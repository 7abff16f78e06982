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

LaunchPlan PlanFor(const std::wstring& folder, std::vector<std::wstring> arguments) {
    static const Environment machine;
    PlanInputs inputs;
    inputs.extraction = kRunSucceeded;
    inputs.commandLine = L"setup.exe";
    for (size_t i = 1; i < arguments.size(); ++i)
        inputs.commandLine += L" " + arguments[i];
    inputs.arguments = std::move(arguments);
    inputs.folder = folder;
    inputs.folderIsOwn = true;
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

} // namespace
