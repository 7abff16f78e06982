#include "app/StartCommand.h"

#include <gtest/gtest.h>

namespace {

const std::wstring kFile = L"C:\\Temp\\unpack\\setup.msi";

TEST(StartCommand, AProgramIsStartedAsItselfWithItsParameters) {
    const StartCommand command = ProgramCommand(L"C:\\Temp\\unpack\\payload.exe", L"/q \"a b\"");
    EXPECT_EQ(command.application, L"C:\\Temp\\unpack\\payload.exe");
    EXPECT_EQ(command.commandLine, L"\"C:\\Temp\\unpack\\payload.exe\" /q \"a b\"");
    EXPECT_EQ(ProgramCommand(L"C:\\x.exe", L"").commandLine, L"\"C:\\x.exe\"");
}

TEST(StartCommand, AnAssociationGetsTheDocumentAndTheParametersWhereItAsksForThem) {
    StartCommand command;
    ASSERT_TRUE(AssociationCommand(L"\"C:\\Windows\\System32\\msiexec.exe\" /i \"%1\" %*", kFile,
                                   L"/qn REBOOT=0", command));
    EXPECT_EQ(command.application, L"C:\\Windows\\System32\\msiexec.exe");
    EXPECT_EQ(command.commandLine,
              L"\"C:\\Windows\\System32\\msiexec.exe\" /i \"" + kFile + L"\" /qn REBOOT=0");

    // Without %* the parameters still reach the program, at the end; %L is the file, %% a
    // percent sign, %2 (a printer) nothing.
    ASSERT_TRUE(AssociationCommand(L"C:\\Tools\\open.exe %L 100%% %2", kFile, L"/s", command));
    EXPECT_EQ(command.application, L"C:\\Tools\\open.exe");
    EXPECT_EQ(command.commandLine, L"C:\\Tools\\open.exe " + kFile + L" 100% /s");
}

TEST(StartCommand, AProgramNotNamedByItsFullPathIsNeverSearchedFor) {
    StartCommand command;
    EXPECT_FALSE(AssociationCommand(L"msiexec.exe /i \"%1\"", kFile, L"", command));
    EXPECT_FALSE(AssociationCommand(L"\"%1\" %*", L"relative.bat", L"", command));
    EXPECT_FALSE(AssociationCommand(L"", kFile, L"", command));
    EXPECT_FALSE(AssociationCommand(L"\"C:\\unterminated.exe %1", kFile, L"", command));
    EXPECT_TRUE(AssociationCommand(L"\\\\server\\share\\open.exe \"%1\"", kFile, L"", command));
}

} // namespace
