#include "util/Environment.h"

#include <gtest/gtest.h>

namespace {

const wchar_t kBlock[] = L"=C:=C:\\x\0Path=C:\\Windows\\system32\0windir=C:\\Windows\0"
                         L"SystemRoot=C:\\Windows\0noequals\0\0";

TEST(Environment, ABlockReadBackIsTheSameBlockSortedByName) {
    const Environment environment = ParseEnvironmentBlock(kBlock);
    ASSERT_EQ(environment.size(), 4u);
    EXPECT_EQ(environment[1].name, L"Path");
    EXPECT_EQ(environment[1].value, L"C:\\Windows\\system32");

    const wchar_t sorted[] = L"=C:=C:\\x\0Path=C:\\Windows\\system32\0SystemRoot=C:\\Windows\0"
                             L"windir=C:\\Windows\0";
    EXPECT_EQ(EnvironmentBlock(environment),
              std::vector<wchar_t>(sorted, sorted + sizeof sorted / sizeof sorted[0]));
    EXPECT_EQ(EnvironmentBlock({}), (std::vector<wchar_t>{L'\0', L'\0'}));
}

TEST(Environment, NamesCompareWithoutCase) {
    Environment environment = ParseEnvironmentBlock(kBlock);
    ASSERT_NE(FindVariable(environment, L"PATH"), nullptr);
    SetVariable(environment, L"WINDIR", L"D:\\Win");
    EXPECT_EQ(*FindVariable(environment, L"windir"), L"D:\\Win");
    RemoveVariable(environment, L"path");
    EXPECT_EQ(FindVariable(environment, L"Path"), nullptr);
    EXPECT_EQ(environment.size(), 3u);
}

TEST(Environment, ExpansionTakesTheValuesGivenAndLeavesTheRest) {
    const Environment machine = ParseEnvironmentBlock(kBlock);
    EXPECT_EQ(ExpandVariables(L"\"%SystemRoot%\\System32\\msiexec.exe\" /i \"%1\" %*", machine),
              L"\"C:\\Windows\\System32\\msiexec.exe\" /i \"%1\" %*");
    EXPECT_EQ(ExpandVariables(L"%UNSET%%WINDIR%", machine), L"%UNSET%C:\\Windows");
    EXPECT_EQ(ExpandVariables(L"100%% %", machine), L"100%% %");
}

} // namespace
