// Extraction by a copy of this test binary that carries a package, run as a child process: the
// child is then a real packed executable, and the seams let it meet a full disk.
#include "TestSupport.h"

#include "app/Dispose.h"
#include "app/RunFailure.h"
#include "framework/UniqueHandle.h"
#include "package/PackageFormat.h"
#include "package/UnPack.h"
#include "util/FilesAt.h"
#include "util/Utility.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

// --- The child side ------------------------------------------------------------------------

// The real volume query, through the seam's signature.
LONG RealVolumeQuery(HANDLE file, PVOID status, PVOID information, ULONG length, ULONG kind) {
    return RealSystemCalls().NtQueryVolumeInformationFile(file, status, information, length, kind);
}

// A volume of 50 free bytes, one byte a unit.
LONG NTAPI NoSpaceAnywhere(HANDLE file, PVOID status, PVOID information, ULONG length, ULONG kind) {
    const LONG result = RealVolumeQuery(file, status, information, length, kind);
    auto* units = static_cast<LARGE_INTEGER*>(information); // total, caller's, actual
    units[1].QuadPart = units[2].QuadPart = 50;
    auto* sizes = reinterpret_cast<ULONG*>(units + 3); // sectors a unit, bytes a sector
    sizes[0] = sizes[1] = 1;
    return result;
}

// Which volume the free space is asked of, as "FreeSpace of FOLDER" lines in the log: the folder
// whose handle the query is given.
LONG NTAPI LoggingFreeSpace(HANDLE file, PVOID status, PVOID information, ULONG length,
                            ULONG kind) {
    CUtility::Log(L"[Test::FreeSpace] of %s\\", FinalPathOf(file).c_str());
    return RealVolumeQuery(file, status, information, length, kind);
}

std::atomic<DWORD> g_extractingThread{0};
LONG NTAPI RecordingFreeSpace(HANDLE file, PVOID status, PVOID information, ULONG length,
                              ULONG kind) {
    g_extractingThread = ::GetCurrentThreadId();
    return RealVolumeQuery(file, status, information, length, kind);
}

// The extraction as a run has it: what it left is disposed of, as the run does, when it did not
// complete. 1 when it did.
int ExtractAsARun() {
    CUnPack unpack;
    const int written = unpack.UnPackFiles();
    ExtractionFolder noInstallerTemp;
    if (written == 0)
        Dispose(unpack, noInstallerTemp, FolderUse::unused);
    return written;
}

const ChildRegistration extract(L"extract", ExtractAsARun);

const ChildRegistration noSpace(L"extract-no-space", [] {
    g_os.NtQueryVolumeInformationFile = NoSpaceAnywhere;
    return ExtractAsARun();
});

const ChildRegistration noSpaceUnattended(L"extract-no-space-unattended", [] {
    g_os.NtQueryVolumeInformationFile = NoSpaceAnywhere;
    g_os.GetUserObjectInformationW = InvisibleStation;
    return ExtractAsARun();
});

const ChildRegistration freeSpaceOfTheFolder(L"extract-asking-free-space", [] {
    g_os.NtQueryVolumeInformationFile = LoggingFreeSpace;
    return ExtractAsARun();
});

// Reading fails at one offset of the package, as a failing disk would there (Wine cannot be made
// to fail a read of a file whose bytes are there).
ULONGLONG g_unreadableOffset = 0;
BOOL WINAPI ReadFailingAtOneOffset(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read,
                                   LPOVERLAPPED overlapped) {
    LARGE_INTEGER position = {};
    LARGE_INTEGER zero = {};
    if (::SetFilePointerEx(file, zero, &position, FILE_CURRENT) &&
        static_cast<ULONGLONG>(position.QuadPart) == g_unreadableOffset) {
        ::SetLastError(ERROR_CRC);
        return FALSE;
    }
    return ::ReadFile(file, buffer, count, read, overlapped);
}

// 1 when the extraction reported success.
const ChildRegistration unreadableHeader(L"extract-second-header-unreadable", [] {
    CUnPack unpack;
    g_unreadableOffset = unpack.FindHeader() + 284 + 5; // past "first"
    g_os.ReadFile = ReadFailingAtOneOffset;
    const int written = unpack.UnPackFiles();
    ExtractionFolder noInstallerTemp;
    Dispose(unpack, noInstallerTemp, FolderUse::unused);
    return written;
});

// Memory runs out at the second entry, after the first was written.
int g_freeSpaceQueries = 0;
LONG NTAPI OutOfMemoryAtTheSecondEntry(HANDLE file, PVOID status, PVOID information, ULONG length,
                                       ULONG kind) {
    if (++g_freeSpaceQueries == 2)
        EndRunAsFailed(); // what the stub's operator new does then
    return RealVolumeQuery(file, status, information, length, kind);
}

// The run ends there, from the worker thread: the extraction never returns.
constexpr int kReturnedAfterFailure = 99;
const ChildRegistration failedMidway(L"extract-failing-midway", [] {
    g_os.NtQueryVolumeInformationFile = OutOfMemoryAtTheSecondEntry;
    CUnPack unpack;
    unpack.StartAndWait();
    return kReturnedAfterFailure;
});

// The extraction runs on another thread than the caller's and has written its file by the time
// StartAndWait returns.
const ChildChecks kOnWorker = {"the extraction asked for free space", "on a thread of its own",
                               "its file was written when StartAndWait returned"};
const ChildRegistration onWorker(L"start-and-wait", [] {
    g_os.NtQueryVolumeInformationFile = RecordingFreeSpace;
    CUnPack unpack;
    unpack.StartAndWait();
    const DWORD worker = g_extractingThread;
    return kOnWorker.ExitCode(
        {worker != 0, worker != ::GetCurrentThreadId(), Exists(unpack.GetUnpackDir() + L"a.txt")});
});

// --- The parent side -------------------------------------------------------------------------

// A message box of the product's, as the user would see it.
struct SeenBox {
    bool found = false;
    std::wstring text;
    bool hasOk = false;
    bool hasCancel = false;
};

// Watches for a box captioned with the product name, reads it and presses OK.
class BoxWatcher {
public:
    BoxWatcher()
        : thread_([this] {
              const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
              while (!stop_ && std::chrono::steady_clock::now() < deadline) {
                  if (HWND box = ::FindWindowW(nullptr, L"Tovari Vessor")) {
                      Read(box);
                      ::PostMessageW(box, WM_COMMAND, IDOK, 0);
                      return;
                  }
                  std::this_thread::sleep_for(std::chrono::milliseconds(50));
              }
          }) {}
    ~BoxWatcher() {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    // Stops watching, and tells what was seen until then.
    const SeenBox& StopAndSee() {
        stop_ = true;
        return Seen();
    }
    // Waits until the box has been handled (or the watch timed out).
    const SeenBox& Seen() {
        if (thread_.joinable())
            thread_.join();
        return seen_;
    }

private:
    void Read(HWND box) {
        seen_.found = true;
        wchar_t text[512] = {};
        ::GetDlgItemTextW(box, 0xFFFF, text, 512); // the text of a message box
        seen_.text = text;
        seen_.hasOk = ::GetDlgItem(box, IDOK) != nullptr;
        seen_.hasCancel = ::GetDlgItem(box, IDCANCEL) != nullptr;
    }

    std::atomic<bool> stop_{false};
    SeenBox seen_;
    std::thread thread_;
};

std::wstring Widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

class Extraction : public PackedChildTest {
protected:
    Extraction() : PackedChildTest(L"extraction-test") {}

    std::string Extracted(const std::string& name) {
        const std::vector<unsigned char> bytes = ReadBytes(folder + Widen(name));
        return std::string(bytes.begin(), bytes.end());
    }
};

TEST_F(Extraction, PayloadsAroundTheCopyBlockSizeArriveIntact) {
    std::string block1024, block1025, large;
    for (int i = 0; i < 1024; ++i)
        block1024 += static_cast<char>(i * 31);
    block1025 = block1024 + "!";
    for (int i = 0; i < 70000; ++i)
        large += static_cast<char>(i % 253);
    const Entries entries = {
        {"zero.bin", ""}, {"b1024.bin", block1024}, {"b1025.bin", block1025}, {"large.bin", large}};

    ASSERT_EQ(SpawnChildFrom(PackedCopy(entries), L"extract"), 1);

    const auto messages = LogMessages();
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto& [name, content] = entries[i];
        EXPECT_EQ(Extracted(name), content) << name;
        EXPECT_TRUE(Contains(
            messages, L"[CUnPack::UnPackFiles] UnPack count:" + std::to_wstring(i + 1) + L" len:" +
                          std::to_wstring(content.size()) + L" File:" + folder + Widen(name)))
            << name;
    }
    EXPECT_TRUE(Contains(messages, L"[CUnPack::UnPackFiles] UnPack total 4 files."));
}

TEST_F(Extraction, RunsOnAWorkerThreadThatIsWaitedFor) {
    const int code = SpawnChildFrom(PackedCopy({{"a.txt", "a"}}), L"start-and-wait");
    EXPECT_EQ(code, 0) << kOnWorker.Failed(code);
    EXPECT_EQ(Extracted("a.txt"), "a");
}

TEST_F(Extraction, HeaderThatCannotBeReadKeepsNothing) {
    ASSERT_EQ(SpawnChildFrom(PackedCopy({{"a.txt", "first"}, {"b.txt", "second"}}),
                             L"extract-second-header-unreadable"),
              0);
    const auto messages = LogMessages();
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(),
              L"[CUnPack::UnPackFiles] Package unreadable: header 2 could not be read");
    EXPECT_FALSE(Exists(folder));
}

// Memory that runs out ends the run where it happens, with the exit code of the stub as built (0),
// before anything more is written or anything could start, but the run's closing line.
TEST_F(Extraction, MemoryThatRunsOutMidwayEndsTheRunThere) {
    ASSERT_EQ(SpawnChildFrom(PackedCopy({{"run.bat", "first"}, {"b.txt", "second"}}),
                             L"extract-failing-midway"),
              0);
    const auto messages = LogMessages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2],
              L"[CUnPackFileApp::InitInstance] Out of memory: the run ends as failed");
    const std::wstring& closing = messages.back();
    const std::wstring end =
        L", package sha256 not checked, run cut short (out of memory), exit code:0";
    EXPECT_EQ(closing.rfind(L"[CUnPackFileApp::InitInstance] Run ended: version ", 0), 0u)
        << Narrow(closing);
    EXPECT_TRUE(closing.size() > end.size() &&
                closing.compare(closing.size() - end.size(), end.size(), end) == 0)
        << Narrow(closing);
    EXPECT_FALSE(Exists(folder + L"b.txt"));
}

// The volume the folder lies on is the one asked, through the folder's handle; an entry it
// has no room for ends the extraction with a box, and nothing of the package is kept.
TEST_F(Extraction, FreeSpaceIsTheFoldersAndTooLittleOfItKeepsNothing) {
    EXPECT_EQ(SpawnChildFrom(PackedCopy({{"one.txt", "x"}}), L"extract-asking-free-space"), 1);
    // The folder as Windows reaches it: the file system's case.
    const std::wstring asked = L"[Test::FreeSpace] of " + folder;
    bool named = false;
    for (const std::wstring& message : LogMessages())
        named = named ||
                ::CompareStringOrdinal(message.c_str(), -1, asked.c_str(), -1, TRUE) == CSTR_EQUAL;
    EXPECT_TRUE(named) << Narrow(asked);
    ::DeleteFileW(LogPath().c_str());
    RemoveExtractionFolders();

    const std::wstring child =
        PackedCopy({{"small.txt", "tiny"}, {"big.bin", std::string(100, 'b')}});
    BoxWatcher watcher;
    EXPECT_EQ(SpawnChildFrom(child, L"extract-no-space"), 0);
    const SeenBox& box = watcher.Seen();
    ASSERT_TRUE(box.found) << "no message box captioned with the product name";
    EXPECT_EQ(box.text, L"There is not enough disk space to install .");
    EXPECT_TRUE(box.hasOk);
    EXPECT_FALSE(box.hasCancel);

    EXPECT_FALSE(Exists(folder));
    const auto messages = LogMessages();
    const std::vector<std::wstring> tail(messages.end() - 3, messages.end());
    EXPECT_EQ(
        tail,
        (std::vector<std::wstring>{
            L"[CUnPack::UnPackFiles]  FreeSpace:50 FileSize:100",
            L"[CUnPack::UnPackFiles] There is not enough disk space to install .",
            L"[CUnPack::UnPackFiles] Extraction incomplete: nothing of it is kept or started"}));
}

TEST_F(Extraction, TooLittleSpaceWhereNobodySeesABoxIsLoggedAndStopsTheExtraction) {
    const std::wstring child =
        PackedCopy({{"small.txt", "tiny"}, {"big.bin", std::string(100, 'b')}});
    BoxWatcher watcher;
    EXPECT_EQ(SpawnChildFrom(child, L"extract-no-space-unattended"), 0);
    EXPECT_FALSE(watcher.StopAndSee().found) << "a box was shown where nobody sees it";
    EXPECT_FALSE(Exists(folder));
    EXPECT_TRUE(Contains(LogMessages(), L"[CUnPack::UnPackFiles] No visible desktop, not shown: "
                                        L"There is not enough disk space to install ."));
}

TEST_F(Extraction, AnOutputThatCannotBeCreatedEndsTheExtraction) {
    // A name the rule takes (it fits a header) but no file system creates, at 256 characters:
    // its file-error line, whatever cause the file system gives, then nothing after it is
    // written and nothing is kept.
    const std::string tooLongForTheDisk = std::string(252, 't') + ".txt";
    EXPECT_EQ(SpawnChildFrom(PackedCopy({{tooLongForTheDisk, "first"}, {"next.txt", "second"}}),
                             L"extract"),
              0);
    const auto messages = LogMessages();
    const std::wstring fileError =
        L"[CUtility::FileException] " + folder + Widen(tooLongForTheDisk) + L" ";
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [&](const std::wstring& message) {
        return message.compare(0, fileError.size(), fileError) == 0;
    }));
    EXPECT_EQ(messages.back(),
              L"[CUnPack::UnPackFiles] Extraction incomplete: nothing of it is kept or started");
    EXPECT_FALSE(Exists(folder));
}

// A package holds a folder tree: each folder is created in its parent, and what is there is read
// back from the paths the entries name.
TEST_F(Extraction, FolderTreesAreExtractedUnderTheirPaths) {
    const Entries entries = {{"run.bat", "@echo off"},
                             {"data\\a.cab", "cabinet"},
                             {"data\\lang\\de\\readme.txt", "Hallo"},
                             {"Data\\lang\\en.txt", "Hello"}};
    ASSERT_EQ(SpawnChildFrom(PackedCopy(entries), L"extract"), 1);
    for (const auto& [name, content] : entries)
        EXPECT_EQ(Extracted(name), content) << name;
    EXPECT_TRUE(Contains(LogMessages(), L"[CUnPack::UnPackFiles] (3/4)UnPack file name:" + folder +
                                            L"data\\lang\\de\\readme.txt (5)"));
}

// Names are compared as Windows compares them, without case: a second entry of one name, or a
// file where a folder of the tree lies, makes the package refused. A name that would leave the
// folder writes nothing anywhere, and one Windows would not create is refused before it is tried.
TEST_F(Extraction, NamesGivenTwiceOrLeavingTheFolderRefuseThePackage) {
    const std::vector<Entries> refused = {
        {{"data\\A.cab", "1"}, {"DATA\\a.CAB", "2"}},
        {{"data", "a file"}, {"data\\x.txt", "below it"}},
        {{"data\\x.txt", "a folder's file"}, {"data", "where the folder is"}},
        {{"ok.txt", "1"}, {"data\\..\\..\\outside.txt", "escape"}},
        {{"..\\outside.txt", "escape"}},
        {{"C:\\outside.txt", "escape"}},
        {{"data\\\\x.txt", "empty component"}},
        {{"data\\x.txt:stream", "a stream"}},
        {{"ok.txt", "1"}, {"taken?.txt", "a character Windows does not allow"}},
    };
    for (const Entries& entries : refused) {
        EXPECT_EQ(SpawnChildFrom(PackedCopy(entries), L"extract"), 0) << entries.back().first;
        EXPECT_FALSE(Exists(folder)) << entries.back().first;
        EXPECT_FALSE(Exists(MachineTempDir() + L"outside.txt"));
        EXPECT_FALSE(Exists(L"C:\\outside.txt"));
        const auto messages = LogMessages();
        EXPECT_NE(messages.back().find(L"Package refused:"), std::wstring::npos)
            << Narrow(messages.back());
        ::DeleteFileW(LogPath().c_str());
    }
}

} // namespace
