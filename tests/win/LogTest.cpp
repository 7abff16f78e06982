#include "TestSupport.h"

#include "util/File.h"
#include "util/Utility.h"

#include <gtest/gtest.h>

#include <winternl.h>

#include <cwctype>

namespace {

std::wstring ReadLogText() {
    const std::vector<unsigned char> bytes = ReadBytes(LogPath());
    std::wstring text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<wchar_t>(bytes[i] | (bytes[i + 1] << 8));
    return text;
}

// Checks that `text` at `pos` holds one line "[pid]YYYY-MM-DD HH:MM:SS  body\r\n" and moves past
// it.
void ExpectLine(const std::wstring& text, size_t& pos, DWORD pid, const std::wstring& body) {
    const std::wstring head = L"[" + std::to_wstring(pid) + L"]";
    ASSERT_EQ(text.compare(pos, head.size(), head), 0) << Narrow(text.substr(pos, 40));
    pos += head.size();
    const std::wstring time = text.substr(pos, 19);
    const std::wstring shape = L"dddd-dd-dd dd:dd:dd";
    for (size_t i = 0; i < shape.size(); ++i) {
        if (shape[i] == L'd')
            ASSERT_TRUE(std::iswdigit(time[i])) << Narrow(time);
        else
            ASSERT_EQ(time[i], shape[i]) << Narrow(time);
    }
    pos += time.size();
    const std::wstring rest = L"  " + body + L"\r\n";
    ASSERT_EQ(text.compare(pos, rest.size(), rest), 0)
        << "expected " << Narrow(rest) << "\nactual   " << Narrow(text.substr(pos, rest.size()));
    pos += rest.size();
}

const ChildRegistration firstRun(L"log-first-run", [] {
    ::SetLastError(0);
    CUtility::Log(L"[%s] plain %d %lld %08X", L"Test::First", -42, 5000000000LL, 0xABCu);
    ::SetLastError(0xFFFFFFFF);
    CUtility::Log(L"[%s] %s", L"Test::First", L"100% done %d %s");
    ::SetLastError(5);
    CUtility::Log(L"[%s] two\r\nlines", L"Test::First");
    return static_cast<int>(::GetCurrentProcessId());
});

const ChildRegistration secondRun(L"log-second-run", [] {
    ::SetLastError(0);
    CUtility::Log(L"[%s] again", L"Test::Second");
    return static_cast<int>(::GetCurrentProcessId());
});

class LogFile : public testing::Test {
protected:
    void SetUp() override { ::DeleteFileW(LogPath().c_str()); }
    void TearDown() override { ::DeleteFileW(LogPath().c_str()); }
};

TEST_F(LogFile, PathIsInTheTemporaryDirectory) {
    EXPECT_EQ(CUtility::GetLogFilePath(), TempDir() + L"unpack.log");
}

TEST_F(LogFile, TwoRunsAppendUtf16LinesWithoutByteOrderMark) {
    const int first = SpawnChild(L"log-first-run");
    const int second = SpawnChild(L"log-second-run");
    ASSERT_GT(first, 0);
    ASSERT_GT(second, 0);

    const std::vector<unsigned char> bytes = ReadBytes(LogPath());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], '[');
    EXPECT_EQ(bytes[1], 0);
    ASSERT_EQ(bytes.size() % 2, 0u);

    const std::wstring text = ReadLogText();
    size_t pos = 0;
    ExpectLine(text, pos, first, L"[Test::First] plain -42 5000000000 00000ABC (Last=0)");
    ExpectLine(text, pos, first, L"[Test::First] 100% done %d %s (Last=-1)");
    // A line break of the message cannot start a line of its own.
    ExpectLine(text, pos, first, L"[Test::First] two\\r\\nlines (Last=5)");
    ExpectLine(text, pos, second, L"[Test::Second] again (Last=0)");
    EXPECT_EQ(pos, text.size()) << "unexpected tail: " << Narrow(text.substr(pos));
}

// The clock conversion fails and leaves its own error behind: the line has no time, and both the
// line and the caller still see the caller's error.
BOOL WINAPI FailingLocalTime(const TIME_ZONE_INFORMATION*, const SYSTEMTIME*, LPSYSTEMTIME) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}

TEST_F(LogFile, ShowsAndKeepsTheCallersLastErrorWhateverTheFormattingDid) {
    SystemCallsScope seams;
    g_os.SystemTimeToTzSpecificLocalTime = FailingLocalTime;
    ::SetLastError(1234);
    CUtility::Log(L"[%s] %s", L"Test::Error", L"after a failure");
    EXPECT_EQ(::GetLastError(), 1234u);

    const std::wstring expected = L"[" + std::to_wstring(::GetCurrentProcessId()) +
                                  L"]  [Test::Error] after a failure (Last=1234)\r\n";
    EXPECT_EQ(ReadLogText(), expected);
}

TEST_F(LogFile, LongMessageIsCutAt1022Characters) {
    const std::wstring longText(3000, L'x');
    ::SetLastError(0);
    CUtility::Log(L"%s", longText.c_str());

    const std::wstring text = ReadLogText();
    const size_t start = text.find(L"  x");
    ASSERT_NE(start, std::wstring::npos);
    const size_t end = text.find(L" (Last=0)\r\n", start);
    ASSERT_NE(end, std::wstring::npos);
    EXPECT_EQ(end - (start + 2), 1022u);
}

TEST_F(LogFile, LineIsLostWhileTheFileIsHeldOpen) {
    CUtility::Log(L"[%s] before", L"Test::Held");
    {
        // The holder shares everything: only the log's own open, which admits no other opener,
        // can refuse to open alongside it.
        UniqueFileHandle holder(::CreateFileW(
            LogPath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder);
        CUtility::Log(L"[%s] while held", L"Test::Held");
    }
    CUtility::Log(L"[%s] after", L"Test::Held");

    const std::wstring text = ReadLogText();
    EXPECT_NE(text.find(L"[Test::Held] before"), std::wstring::npos);
    EXPECT_EQ(text.find(L"while held"), std::wstring::npos);
    EXPECT_NE(text.find(L"[Test::Held] after"), std::wstring::npos);
}

TEST_F(LogFile, FailedOpenIsLoggedWithItsCause) {
    const std::wstring missing = TempDir() + L"no-such-file.bin";
    const std::wstring badPath = TempDir() + L"no-such-folder\\file.bin";

    CFile file;
    CFileException error;
    EXPECT_FALSE(file.Open(missing.c_str(), CFile::modeRead | CFile::shareDenyNone, &error));
    EXPECT_EQ(error.Cause(), CFileException::fileNotFound);
    EXPECT_EQ(error.OsError(), 2u);
    CUtility::FileException(error);

    EXPECT_FALSE(file.Open(badPath.c_str(),
                           CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive, &error));
    EXPECT_EQ(error.Cause(), CFileException::badPath);
    CUtility::FileException(error);

    const std::wstring text = ReadLogText();
    EXPECT_NE(text.find(L"  [CUtility::FileException] " + missing + L" was not found. (Last="),
              std::wstring::npos)
        << Narrow(text);
    EXPECT_NE(text.find(L"  [CUtility::FileException] " + badPath +
                        L" contains an incorrect path. (Last="),
              std::wstring::npos)
        << Narrow(text);
}

// ---- Where the line may go --------------------------------------------------------------------

// Wine makes no reparse points and reaches every file by its own path: these stand in for a log
// that is a link and for one reached through a junction above it.
BOOL WINAPI ReportReparsePoint(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info,
                               DWORD size) {
    const BOOL ok = ::GetFileInformationByHandleEx(file, kind, info, size);
    if (kind == FileAttributeTagInfo) {
        static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info)->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info)->ReparseTag = IO_REPARSE_TAG_SYMLINK;
    }
    return ok;
}

std::string Content(const std::wstring& path) {
    const std::vector<unsigned char> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

class LogTarget : public LogFile {
protected:
    const std::wstring target_ = TempDir() + L"log-link-target.txt";
    const std::wstring output_ = LogPath() + L".txt";

    void SetUp() override {
        LogFile::SetUp();
        WriteTextFile(target_, "not the log");
    }
    void TearDown() override {
        ::RemoveDirectoryW(LogPath().c_str());
        ::DeleteFileW(output_.c_str());
        ::DeleteFileW(target_.c_str());
        LogFile::TearDown();
    }
};

TEST_F(LogTarget, AHardLinkedLogGetsNoLineAndLeavesTheOtherFileAlone) {
    ASSERT_TRUE(::CreateHardLinkW(LogPath().c_str(), target_.c_str(), nullptr)) << ::GetLastError();
    CUtility::Log(L"[%s] through a link", L"Test::Link");
    EXPECT_EQ(Content(target_), "not the log");

    ASSERT_TRUE(::DeleteFileW(LogPath().c_str()));
    CUtility::Log(L"[%s] plain again", L"Test::Link");
    EXPECT_NE(ReadLogText().find(L"[Test::Link] plain again"), std::wstring::npos);
}

TEST_F(LogTarget, AReparsePointOrADirectoryGetsNoLine) {
    {
        SystemCallsScope seams;
        g_os.GetFileInformationByHandleEx = ReportReparsePoint;
        CUtility::Log(L"[%s] into a link", L"Test::Reparse");
    }
    EXPECT_EQ(ReadBytes(LogPath()).size(), 0u);

    ASSERT_TRUE(::DeleteFileW(LogPath().c_str()));
    ASSERT_TRUE(::CreateDirectoryW(LogPath().c_str(), nullptr));
    CUtility::Log(L"[%s] into a folder", L"Test::Reparse");
    const DWORD attributes = ::GetFileAttributesW(LogPath().c_str());
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u) << attributes;
    EXPECT_TRUE(::RemoveDirectoryW(LogPath().c_str())) << "the folder is no longer empty";
}

// The output is held from before the launch until the installer has ended: the script writes
// through the handle, nobody else can write, delete, rename or replace it meanwhile.
TEST_F(LogTarget, ScriptOutputIsAPlainEmptyFileOfItsOwnHeldWhileTheScriptWrites) {
    WriteTextFile(output_, "last run's output");
    UniqueFileHandle held;
    ASSERT_TRUE(CUtility::TakeScriptOutput(held));
    ASSERT_TRUE(held);

    EXPECT_FALSE(::DeleteFileW(output_.c_str()));
    EXPECT_FALSE(::MoveFileW(output_.c_str(), target_.c_str()));
    EXPECT_EQ(Content(target_), "not the log");
    const UniqueFileHandle other(::CreateFileW(output_.c_str(), GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(other) << "another program may write into the script's output";
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(held.get(), "ok", 2, &written, nullptr));
    EXPECT_EQ(Content(output_), "ok") << "the output is not readable while it is written";
}

// Anything but a plain file of its own with one name stays exactly as it is, and the output is
// then not kept: a second name of another file, one held by another program, a folder, a link.
TEST_F(LogTarget, ScriptOutputThatIsNoPlainFileOfItsOwnIsLeftAsItIs) {
    ASSERT_TRUE(::CreateHardLinkW(output_.c_str(), target_.c_str(), nullptr)) << ::GetLastError();
    UniqueFileHandle held;
    EXPECT_FALSE(CUtility::TakeScriptOutput(held));
    EXPECT_FALSE(held);
    EXPECT_EQ(Content(output_), "not the log") << "the link was replaced or emptied";
    ASSERT_TRUE(::DeleteFileW(output_.c_str()));

    WriteTextFile(output_, "the user's");
    {
        const UniqueFileHandle users(::CreateFileW(output_.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                                   nullptr));
        ASSERT_TRUE(users);
        EXPECT_FALSE(CUtility::TakeScriptOutput(held));
    }
    EXPECT_EQ(Content(output_), "the user's");
    {
        SystemCallsScope seams;
        g_os.GetFileInformationByHandleEx = ReportReparsePoint;
        EXPECT_FALSE(CUtility::TakeScriptOutput(held)) << "a link is never taken";
    }
    EXPECT_EQ(Content(output_), "the user's");
    ASSERT_TRUE(::DeleteFileW(output_.c_str()));

    ASSERT_TRUE(::CreateDirectoryW(output_.c_str(), nullptr));
    EXPECT_FALSE(CUtility::TakeScriptOutput(held));
    EXPECT_TRUE(::RemoveDirectoryW(output_.c_str())) << "the folder is gone or not empty";
}

// A lock the desktop user holds on a file of the temporary directory never holds the elevated
// stub up: every open there asks not to wait for one, and a file whose lock is being broken is
// taken as one in use.
std::vector<ULONG> g_tempOpens;
bool g_breakInProgress = false;
LONG NTAPI OplockedTemp(PHANDLE file, ACCESS_MASK access, PVOID attributes, PVOID status,
                        PLARGE_INTEGER allocation, ULONG fileAttributes, ULONG share,
                        ULONG disposition, ULONG options, PVOID extended, ULONG length) {
    const LONG result =
        RealSystemCalls().NtCreateFile(file, access, attributes, status, allocation, fileAttributes,
                                       share, disposition, options, extended, length);
    if (static_cast<OBJECT_ATTRIBUTES*>(attributes)->RootDirectory !=
        CUtility::TempDirectoryHandle())
        return result;
    g_tempOpens.push_back(options);
    constexpr LONG kOplockBreakInProgress = 0x00000108;
    return result >= 0 && g_breakInProgress ? kOplockBreakInProgress : result;
}

TEST_F(LogTarget, NoOpenInTheTemporaryDirectoryWaitsForAnotherProgramsLock) {
    SystemCallsScope seams;
    g_os.NtCreateFile = OplockedTemp;
    g_tempOpens.clear();
    g_breakInProgress = false;
    CUtility::Log(L"[%s] unlocked", L"Test::Oplock");
    UniqueFileHandle held;
    EXPECT_TRUE(CUtility::TakeScriptOutput(held));
    held.reset();
    g_breakInProgress = true;
    CUtility::Log(L"[%s] while a lock is broken", L"Test::Oplock");
    EXPECT_FALSE(CUtility::TakeScriptOutput(held));
    g_breakInProgress = false;

    ASSERT_GE(g_tempOpens.size(), 4u);
    for (const ULONG options : g_tempOpens)
        EXPECT_NE(options & FILE_COMPLETE_IF_OPLOCKED, 0u) << std::hex << options;
    const std::wstring text = ReadLogText();
    EXPECT_NE(text.find(L"[Test::Oplock] unlocked"), std::wstring::npos);
    EXPECT_EQ(text.find(L"while a lock is broken"), std::wstring::npos);
}

} // namespace
