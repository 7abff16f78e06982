#include "TestSupport.h"

#include "framework/UniqueHandle.h"
#include "util/Utility.h"

#include <gtest/gtest.h>

#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// --- Fakes for what Wine cannot produce: reparse points ---------------------------------------

constexpr DWORD kSymlinkTag = 0xA000000C;

DWORD g_fakeTag = 0;
std::wstring g_reparseSuffix; // the fake reports reparse data only for paths ending in this
int g_reparseQueries = 0;

std::wstring PathOfHandle(HANDLE handle) {
    wchar_t buffer[MAX_PATH * 2] = {};
    const DWORD length = ::GetFinalPathNameByHandleW(handle, buffer, MAX_PATH * 2, 0);
    return std::wstring(buffer, length);
}

bool EndsWith(const std::wstring& text, const std::wstring& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

BOOL WINAPI FakeReparseQuery(HANDLE handle, DWORD code, LPVOID, DWORD, LPVOID out, DWORD outSize,
                             LPDWORD returned, LPOVERLAPPED) {
    ++g_reparseQueries;
    if (code != FSCTL_GET_REPARSE_POINT || outSize < sizeof(DWORD) ||
        !EndsWith(PathOfHandle(handle), g_reparseSuffix)) {
        ::SetLastError(ERROR_NOT_A_REPARSE_POINT);
        return FALSE;
    }
    std::memset(out, 0, outSize);
    std::memcpy(out, &g_fakeTag, sizeof g_fakeTag);
    *returned = 16;
    return TRUE;
}

// The walk sees folders whose handle leads to a path ending in "\\link" as directory links: it
// judges each entry on the handle it opened, so this is what a junction put in a folder's place,
// even after the folder was listed, looks like to it.
std::wstring g_linkSuffix = L"\\link";
BOOL WINAPI ReportLinks(HANDLE file, FILE_INFO_BY_HANDLE_CLASS kind, LPVOID info, DWORD size) {
    const BOOL ok = ::GetFileInformationByHandleEx(file, kind, info, size);
    if (ok && kind == FileAttributeTagInfo && EndsWith(PathOfHandle(file), g_linkSuffix)) {
        auto* tag = static_cast<FILE_ATTRIBUTE_TAG_INFO*>(info);
        tag->FileAttributes |= FILE_ATTRIBUTE_REPARSE_POINT;
        tag->ReparseTag = IO_REPARSE_TAG_MOUNT_POINT; // what a junction carries
    }
    return ok;
}

// What the stub deletes it has opened as itself, a link as the link.
UniqueFileHandle OpenAsItself(const std::wstring& path) {
    return UniqueFileHandle(::CreateFileW(
        path.c_str(), DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

bool DeleteTreeAt(const std::wstring& path) {
    const UniqueFileHandle item = OpenAsItself(path);
    return item && CUtility::DeleteTree(item.get(), path);
}

int ProtectedAt(const std::wstring& path) {
    const UniqueFileHandle item = OpenAsItself(path);
    return item ? CUtility::IsProtectedMountPoint(item.get(), path) : 0;
}

// --- Fixture: a scratch tree in the temporary directory --------------------------------------

class Deletion : public testing::Test {
protected:
    const std::wstring root = TempDir() + L"deletion-test";

    void SetUp() override {
        RemoveTree(root);
        ASSERT_TRUE(::CreateDirectoryW(root.c_str(), nullptr));
        g_fakeTag = 0;
        g_reparseSuffix = L"\\mnt";
        g_reparseQueries = 0;
        g_linkSuffix = L"\\link";
    }
    void TearDown() override { RemoveTree(root); }

    void MakeDirs(const std::wstring& relative) {
        std::wstring path = root;
        size_t start = 0;
        while (start <= relative.size()) {
            const size_t end = relative.find(L'\\', start);
            path += L"\\" + relative.substr(start, end - start);
            ::CreateDirectoryW(path.c_str(), nullptr);
            if (end == std::wstring::npos)
                break;
            start = end + 1;
        }
    }
    std::wstring At(const std::wstring& relative) const { return root + L"\\" + relative; }

    SystemCallsScope calls_;
};

TEST_F(Deletion, TreeWithFilesAndNestedFoldersIsRemoved) {
    MakeDirs(L"tree\\a\\b");
    WriteTextFile(At(L"tree\\top.txt"), "1");
    WriteTextFile(At(L"tree\\a\\mid.txt"), "2");
    WriteTextFile(At(L"tree\\a\\b\\low.txt"), "3");

    EXPECT_TRUE(DeleteTreeAt(At(L"tree")));
    EXPECT_FALSE(Exists(At(L"tree")));
}

TEST_F(Deletion, WalkNeverEntersADirectoryLink) {
    g_os.GetFileInformationByHandleEx = ReportLinks;
    MakeDirs(L"tree\\link\\inner");
    WriteTextFile(At(L"tree\\other.txt"), "goes");
    WriteTextFile(At(L"tree\\link\\precious.txt"), "stays");
    WriteTextFile(At(L"tree\\link\\inner\\precious2.txt"), "stays");

    (void)DeleteTreeAt(At(L"tree"));

    EXPECT_FALSE(Exists(At(L"tree\\other.txt")));
    EXPECT_TRUE(Exists(At(L"tree\\link\\precious.txt")));
    EXPECT_TRUE(Exists(At(L"tree\\link\\inner\\precious2.txt")));
}

TEST_F(Deletion, EmptyDirectoryLinkIsRemovedAsAnEntry) {
    g_os.GetFileInformationByHandleEx = ReportLinks;
    MakeDirs(L"tree\\link");

    EXPECT_TRUE(DeleteTreeAt(At(L"tree")));
    EXPECT_FALSE(Exists(At(L"tree")));
}

TEST_F(Deletion, TopFolderThatIsALinkIsNotEntered) {
    g_os.GetFileInformationByHandleEx = ReportLinks;
    MakeDirs(L"linked");
    WriteTextFile(At(L"linked\\precious.txt"), "stays");
    g_linkSuffix = L"\\linked";

    (void)DeleteTreeAt(At(L"linked"));
    EXPECT_TRUE(Exists(At(L"linked\\precious.txt")));
}

TEST_F(Deletion, MountPointUnderProgramDataAndItsParentsStay) {
    g_os.DeviceIoControl = FakeReparseQuery;
    g_fakeTag = IO_REPARSE_TAG_MOUNT_POINT;
    MakeDirs(L"ProgramData\\tree\\mnt");
    MakeDirs(L"ProgramData\\tree\\plain");
    WriteTextFile(At(L"ProgramData\\tree\\plain\\x.txt"), "x");
    WriteTextFile(At(L"ProgramData\\tree\\y.txt"), "y");

    (void)DeleteTreeAt(At(L"ProgramData\\tree"));

    EXPECT_TRUE(Exists(At(L"ProgramData\\tree\\mnt")));
    EXPECT_FALSE(Exists(At(L"ProgramData\\tree\\plain")));
    EXPECT_FALSE(Exists(At(L"ProgramData\\tree\\y.txt")));
    EXPECT_TRUE(Exists(At(L"ProgramData\\tree")));
}

TEST_F(Deletion, MarkerIsCaseSensitive) {
    g_os.DeviceIoControl = FakeReparseQuery;
    g_fakeTag = IO_REPARSE_TAG_MOUNT_POINT;
    MakeDirs(L"a\\programdata\\mnt");
    MakeDirs(L"b\\ProgramData\\mnt");

    EXPECT_EQ(ProtectedAt(At(L"a\\programdata\\mnt")), 0);
    EXPECT_EQ(g_reparseQueries, 0) << "no marker, so the reparse data is not even read";
    EXPECT_EQ(ProtectedAt(At(L"b\\ProgramData\\mnt")), 1);

    EXPECT_TRUE(DeleteTreeAt(At(L"a\\programdata\\mnt")));
    EXPECT_FALSE(Exists(At(L"a\\programdata\\mnt")));
    EXPECT_FALSE(DeleteTreeAt(At(L"b\\ProgramData\\mnt")));
    EXPECT_TRUE(Exists(At(L"b\\ProgramData\\mnt")));
}

TEST_F(Deletion, OnlyAMountPointIsProtected) {
    g_os.DeviceIoControl = FakeReparseQuery;
    g_fakeTag = kSymlinkTag;
    MakeDirs(L"ProgramData\\mnt");
    EXPECT_EQ(ProtectedAt(At(L"ProgramData\\mnt")), 0) << "a directory link";
    EXPECT_EQ(g_reparseQueries, 1);

    g_os.DeviceIoControl = ::DeviceIoControl;
    EXPECT_EQ(ProtectedAt(At(L"ProgramData\\mnt")), 0) << "a plain folder";
}

TEST_F(Deletion, FileHeldOpenStaysWithItsFolders) {
    MakeDirs(L"tree\\sub");
    WriteTextFile(At(L"tree\\sub\\busy.txt"), "busy");
    WriteTextFile(At(L"tree\\free.txt"), "free");
    UniqueFileHandle held(::CreateFileW(At(L"tree\\sub\\busy.txt").c_str(), GENERIC_READ,
                                        FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);

    (void)DeleteTreeAt(At(L"tree"));

    EXPECT_TRUE(Exists(At(L"tree\\sub\\busy.txt")));
    EXPECT_FALSE(Exists(At(L"tree\\free.txt")));
}

// A file another program holds without sharing deletion, and one that opens for deletion but
// cannot be deleted (read-only), are each named, before the folders that stay with them.
TEST_F(Deletion, FilesThatStayAreNamedBeforeTheirFolders) {
    MakeDirs(L"tree\\sub");
    WriteTextFile(At(L"tree\\sub\\busy.txt"), "busy");
    WriteTextFile(At(L"tree\\locked.txt"), "locked");
    WriteTextFile(At(L"tree\\free.txt"), "free");
    ASSERT_TRUE(::SetFileAttributesW(At(L"tree\\locked.txt").c_str(), FILE_ATTRIBUTE_READONLY));
    const UniqueFileHandle held(::CreateFileW(At(L"tree\\sub\\busy.txt").c_str(), GENERIC_READ,
                                              FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);

    std::vector<std::wstring> leftovers;
    const UniqueFileHandle tree = OpenAsItself(At(L"tree"));
    ASSERT_TRUE(tree);
    EXPECT_FALSE(CUtility::DeleteTree(tree.get(), At(L"tree"), &leftovers));

    const auto place = [&leftovers](const std::wstring& path) {
        return std::find(leftovers.begin(), leftovers.end(), path) - leftovers.begin();
    };
    ASSERT_EQ(leftovers.size(), 4u);
    EXPECT_LT(place(At(L"tree\\locked.txt")), 3);
    EXPECT_LT(place(At(L"tree\\sub\\busy.txt")), place(At(L"tree\\sub")));
    EXPECT_EQ(place(At(L"tree")), 3);
    EXPECT_FALSE(Exists(At(L"tree\\free.txt")));
    ::SetFileAttributesW(At(L"tree\\locked.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(RemovePathComponents, CutsFromTheLastBackslash) {
    std::wstring path = L"C:\\Users\\u\\AppData\\Local\\Temp\\unpack";
    CUtility::RemovePathComponents(path, 1);
    EXPECT_EQ(path, L"C:\\Users\\u\\AppData\\Local\\Temp");
    CUtility::RemovePathComponents(path, 2);
    EXPECT_EQ(path, L"C:\\Users\\u\\AppData");

    std::wstring trailing = L"C:\\Temp\\unpack\\";
    CUtility::RemovePathComponents(trailing, 1);
    EXPECT_EQ(trailing, L"C:\\Temp\\unpack");

    std::wstring bare = L"unpack";
    CUtility::RemovePathComponents(bare, 3);
    EXPECT_EQ(bare, L"unpack");
}

TEST(ModulePath, NamesThisRunningExecutable) {
    const std::wstring path = CUtility::GetModulePath();
    EXPECT_TRUE(EndsWith(path, L"folder_tests.exe")) << Narrow(path);
    EXPECT_TRUE(Exists(path));
    EXPECT_EQ(path.find(L'/'), std::wstring::npos);
}

} // namespace
