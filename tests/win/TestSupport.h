// Helpers shared by the tests that run under Wine.
#pragma once

#include "framework/UniqueHandle.h"
#include "util/SystemCalls.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

// Restores the system-call table when the test ends, whatever the test swapped.
class SystemCallsScope {
public:
    SystemCallsScope() : saved_(g_os) {}
    ~SystemCallsScope() { g_os = saved_; }
    SystemCallsScope(const SystemCallsScope&) = delete;
    SystemCallsScope& operator=(const SystemCallsScope&) = delete;

private:
    SystemCalls saved_;
};

// What IsWow64Process says of a test process in a 64-bit prefix: the shipped 32-bit build runs
// under WOW64; the 64-bit build that stands in for it on hosts without 32-bit support does not.
constexpr int kExpectedWow64 = sizeof(void*) == 4 ? 1 : 0;

std::string Narrow(const std::wstring& text);

// For g_os.GetUserObjectInformationW: a window station nobody sees, as a deployment engine's
// process running as SYSTEM has. A box is then logged instead of shown.
BOOL WINAPI InvisibleStation(HANDLE object, int index, PVOID info, DWORD size, LPDWORD needed);

// The temporary directory, with its trailing backslash.
std::wstring TempDir();
// The machine's temporary directory, where the elevated stub extracts, with its trailing
// backslash.
std::wstring MachineTempDir();
// Removes every extraction folder ("unpack", "unpack.*") in the machine's temporary directory.
void RemoveExtractionFolders();
std::wstring CurrentDirectory();

bool Exists(const std::wstring& path);
void WriteTextFile(const std::wstring& path, const std::string& content);
std::vector<unsigned char> ReadBytes(const std::wstring& path);
// Deletes a tree for test set-up and tear-down, without the code under test.
void RemoveTree(const std::wstring& path);

// Child mode: the test binary started again with "--child NAME" runs the function registered
// under NAME and exits with its result. Used where a test needs a fresh process.
struct ChildRegistration {
    ChildRegistration(const wchar_t* name, std::function<int()> body);
};
int RunChild(const std::wstring& name);
// Starts this test binary (or a copy of it at `executable`) in child mode and waits; returns its
// exit code, or -1 when it could not be started or did not end within `timeoutMs`. A child that
// does not end fails the test and is terminated, so that a hang is reported, not waited out.
constexpr DWORD kChildTimeoutMs = 30000;
int SpawnChild(const std::wstring& name, DWORD timeoutMs = kChildTimeoutMs);
int SpawnChildFrom(const std::wstring& executable, const std::wstring& name,
                   DWORD timeoutMs = kChildTimeoutMs);
std::wstring ThisExecutable();
// The same without waiting: the child's process handle, empty when it could not be started.
UniqueHandle StartChildFrom(const std::wstring& executable, const std::wstring& name);

// The checks a child makes, named in order. The child exits with ExitCode: 0 when all hold,
// otherwise the number (from 1) of the first that fails, which the parent's Failed names.
class ChildChecks {
public:
    ChildChecks(std::initializer_list<const char*> names) : names_(names) {}
    [[nodiscard]] int ExitCode(std::initializer_list<bool> holds) const;
    [[nodiscard]] std::string Failed(int exitCode) const;

private:
    std::vector<const char*> names_;
};

// Packages of (name, content) entries, in order.
using Entries = std::vector<std::pair<std::string, std::string>>;

// Writes to `path` a copy of this test binary with `entries` appended as a package, laid out as
// the packing tool lays it out (the digest in the image's settings record stays empty), and
// returns `path`.
std::wstring PackedCopyOfThisExecutable(const Entries& entries, const std::wstring& path);

// A test whose children are copies of this binary carrying a package, in a work folder of its
// own: the work folder, the extraction folder and the log are removed before and after it.
class PackedChildTest : public testing::Test {
protected:
    explicit PackedChildTest(const wchar_t* workName)
        : workDir(TempDir() + workName), folder(MachineTempDir() + L"unpack\\") {}
    void SetUp() override;
    void TearDown() override;
    std::wstring PackedCopy(const Entries& entries);

    const std::wstring workDir;
    const std::wstring folder; // the extraction folder, ending in a backslash
};

// The log file in the temporary directory, and the messages of its lines.
std::wstring LogPath();
std::vector<std::wstring> LogMessages();
bool Contains(const std::vector<std::wstring>& messages, const std::wstring& wanted);

// Has g_os.GetTokenInformation report `sid` as the token's user, every other answer the real
// one's; null has it report the real user again.
void ReportTokenUser(PSID sid);
