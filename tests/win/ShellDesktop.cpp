// Linked into the test binaries whose tests need an explorer.exe in the prefix. Wine starts
// explorer.exe as the desktop process the first time a program asks for the desktop window, and
// it keeps running as long as the prefix's wineserver does; a prefix that has only been booted
// has none yet.
#include <gtest/gtest.h>

#include <windows.h>

namespace {

class ShellDesktop : public testing::Environment {
public:
    void SetUp() override { ::GetDesktopWindow(); }
};

[[maybe_unused]] testing::Environment* const kShellDesktop =
    testing::AddGlobalTestEnvironment(new ShellDesktop);

} // namespace
