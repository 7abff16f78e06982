#include "app/CommandLine.h"

#include <gtest/gtest.h>

namespace {

TEST(LaunchMode, UpToOneArgumentRunsTheDefaultScript) {
    EXPECT_EQ(ChooseLaunchMode(1), LaunchMode::defaultScript);
    EXPECT_EQ(ChooseLaunchMode(2), LaunchMode::defaultScript);
    EXPECT_EQ(ChooseLaunchMode(3), LaunchMode::namedFile);
    EXPECT_EQ(ChooseLaunchMode(9), LaunchMode::namedFile);
}

TEST(BatchCommand, NamesTheScriptRelativeToTheFolderWithNoTextOfTheUsers) {
    EXPECT_EQ(DefaultScriptParameters(), L"/D /E:ON /V:OFF /c run.bat");
    EXPECT_EQ(BatchFileParameters(L"install.bat", L"/quiet \"a b\""),
              L"/D /E:ON /V:OFF /c \"\".\\install.bat\" /quiet \"a b\"\"");
    EXPECT_EQ(BatchFileParameters(L"my setup.cmd", L""),
              L"/D /E:ON /V:OFF /c \"\".\\my setup.cmd\"\"");
    EXPECT_TRUE(IsBatchExtension(L".BAT"));
    EXPECT_TRUE(IsBatchExtension(L".Cmd"));
    EXPECT_FALSE(IsBatchExtension(L".btm"));
}

// What a script reads as text of its lines (%*, %~1, a for loop's list) can end a comparison or a
// list and run what follows: only plain switches and values get through.
TEST(BatchCommand, ParametersPassOnlyWhenEveryCharacterIsOnTheList) {
    for (const wchar_t* text : {L"", L"/quiet /norestart -s", L"INSTALLDIR=C:\\Apps\\Tool",
                                L"a,b+c.d:e_f", L"LANG=de-DE /log:x.log"})
        EXPECT_EQ(BatchParameterRefusal(text), L'\0') << text;
    // The two that ran the caller's program: a for loop's list closed early, and a comparison
    // split by a blank inside the quotes that %~1 removes.
    EXPECT_EQ(BatchParameterRefusal(L"/q x) do C:\\Users\\Public\\evil.exe ("), L')');
    EXPECT_EQ(BatchParameterRefusal(L"\"/x==/x C:\\Users\\Public\\evil.exe rem\""), L'"');
    const struct {
        const wchar_t* text;
        wchar_t refused;
    } refusals[] = {{L"a&b", L'&'},
                    {L"a|b", L'|'},
                    {L"a^b", L'^'},
                    {L"a>b", L'>'},
                    {L"%windir%", L'%'},
                    {L"!x!", L'!'},
                    {L"a;b", L';'},
                    {L"a\tb", L'\t'},
                    {L"a\r\nb", L'\r'},
                    {L"a(b", L'('},
                    {L"stra\u00dfe", L'\u00df'},
                    {L"x\uff06y", L'\uff06'}}; // fullwidth "&", which a best fit maps to "&"
    for (const auto& refusal : refusals)
        EXPECT_EQ(BatchParameterRefusal(refusal.text), refusal.refused);
}

// A script reads its own folder's path as text: with delayed expansion, "!" is read too.
TEST(BatchCommand, AScriptsFolderMayHoldNoOperatorNorExpansion) {
    EXPECT_EQ(ScriptFolderCharacterIn(L"C:\\Windows\\Temp\\unpack.0123456789abcdef\\"), L'\0');
    EXPECT_EQ(ScriptFolderCharacterIn(L"C:\\Users\\u\\y!\\unpack\\"), L'!');
    EXPECT_EQ(ScriptFolderCharacterIn(L"C:\\tmp a&b!\\unpack\\"), L'&');
    EXPECT_EQ(ScriptFolderCharacterIn(L"C:\\Users\\%OS%\\unpack\\"), L'%');
}

TEST(FileExtension, IsWhatFollowsTheLastDotOfTheName) {
    EXPECT_EQ(FileExtension(L"setup.msi"), L".msi");
    EXPECT_EQ(FileExtension(L"my.setup.EXE"), L".EXE");
    EXPECT_EQ(FileExtension(L"README"), L"");
    EXPECT_EQ(FileExtension(L"name."), L"");
    EXPECT_EQ(FileExtension(L"a.b\\c"), L"");
    EXPECT_TRUE(IsProgramExtension(L".EXE"));
    EXPECT_TRUE(IsProgramExtension(L".exe"));
    EXPECT_FALSE(IsProgramExtension(L".exe2"));
    EXPECT_FALSE(IsProgramExtension(L"exe"));
}

TEST(NamedFileParameters, AreCutFromTheRawCommandLine) {
    EXPECT_EQ(NamedFileParameters(L"stub.exe setup.msi /qn", {L"stub.exe", L"setup.msi", L"/qn"}),
              L"/qn");
    // Quotes around the program take the place of nothing: the cut still lands after setup.msi.
    EXPECT_EQ(NamedFileParameters(L"\"C:\\a b\\stub.exe\" setup.msi /qn REBOOT=0",
                                  {L"C:\\a b\\stub.exe", L"setup.msi", L"/qn", L"REBOOT=0"}),
              L"/qn REBOOT=0");
}

TEST(NamedFileParameters, KeepQuotesAsTyped) {
    EXPECT_EQ(NamedFileParameters(L"stub.exe setup.exe /dir=\"C:\\Program Files\\X\" /s",
                                  {L"stub.exe", L"setup.exe", L"/dir=C:\\Program Files\\X", L"/s"}),
              L"/dir=\"C:\\Program Files\\X\" /s");
}

TEST(NamedFileParameters, TrimAndHalveBlankPairsInOnePass) {
    EXPECT_EQ(NamedFileParameters(L"stub.exe setup.exe    /a   /b  /c    ",
                                  {L"stub.exe", L"setup.exe", L"/a", L"/b", L"/c"}),
              L"/a  /b /c");
    EXPECT_EQ(
        NamedFileParameters(L"stub.exe setup.exe x    y", {L"stub.exe", L"setup.exe", L"x", L"y"}),
        L"x  y");
}

TEST(NamedFileParameters, AreRebuiltWhenTheRawLineHasNoBlankWhereTheyStart) {
    // Tabs separate arguments too, but the cut looks for a blank only.
    EXPECT_EQ(NamedFileParameters(L"stub.exe\tsetup.exe\t/a\t/b",
                                  {L"stub.exe", L"setup.exe", L"/a", L"/b"}),
              L"/a /b ");
    EXPECT_EQ(NamedFileParameters(L"s", {L"stub.exe", L"setup.exe", L"only"}), L"only ");
}

TEST(NamedFileParameters, FileAloneHasNone) {
    EXPECT_EQ(NamedFileParameters(L"stub.exe setup.exe", {L"stub.exe", L"setup.exe"}), L"");
    EXPECT_EQ(NamedFileParameters(L"stub.exe", {L"stub.exe"}), L"");
}

} // namespace
