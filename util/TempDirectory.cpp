#include "util/Utility.h"

#include "util/FilesAt.h"
#include "util/MachineEnvironment.h"
#include "util/PathText.h"
#include "util/ProcessUser.h"
#include "util/QueriedPath.h"
#include "util/SystemCalls.h"

namespace {

using GetTempPath2Function = DWORD(WINAPI*)(DWORD length, LPWSTR buffer);

// GetTempPath2W where Windows has it (it gives SYSTEM a directory of its own, closed to other
// users), else GetTempPathW, else the Windows directory's Temp.
std::wstring AskForTempDirectory() {
    const auto tempPath2 = reinterpret_cast<GetTempPath2Function>(reinterpret_cast<void*>(
        g_os.GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "GetTempPath2W")));
    if (tempPath2 != nullptr) {
        const std::wstring path = QueriedPath(tempPath2);
        if (IsFullPath(path))
            return WithTrailingBackslash(path);
    }
    const std::wstring path = QueriedPath(g_os.GetTempPathW);
    if (IsFullPath(path))
        return WithTrailingBackslash(path);
    const std::wstring windows =
        QueriedPath([](DWORD size, LPWSTR buffer) { return ::GetWindowsDirectoryW(buffer, size); });
    return WithTrailingBackslash(windows) + L"Temp\\";
}

UniqueFileHandle OpenFolder(const std::wstring& path) {
    // Links are followed: a temporary directory behind a junction or on a mounted volume is
    // the user's as well. Held without delete sharing, it cannot be renamed or replaced, nor
    // can a folder above it, while the stub runs. Only reading is asked for (what is created in
    // it is checked against the folder's own descriptor), so that other programs opening it keep
    // working.
    // A directory another program holds a lock on is not waited for: the run goes on as
    // without one.
    OpenAtRequest read;
    read.access = FILE_LIST_DIRECTORY | FILE_TRAVERSE;
    read.share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    return OpenByPath(path, read);
}

// A folder as Windows reaches it, ending in a backslash; empty when it cannot be opened.
std::wstring ReachedFolder(const std::wstring& path) {
    const UniqueFileHandle folder = OpenFolder(path);
    const std::wstring reached = folder ? FinalPathOf(folder.get()) : std::wstring();
    return reached.empty() ? std::wstring() : WithTrailingBackslash(reached);
}

// Whether `path` is `folder` or lies below it, as Windows compares names, without case.
bool LiesIn(const std::wstring& path, const std::wstring& folder) {
    const std::wstring plainPath = WithoutLongPathPrefix(path);
    const std::wstring plainFolder = WithoutLongPathPrefix(folder);
    const int length = static_cast<int>(plainFolder.size());
    return !plainFolder.empty() && plainPath.size() >= plainFolder.size() &&
           ::CompareStringOrdinal(plainPath.c_str(), length, plainFolder.c_str(), length, TRUE) ==
               CSTR_EQUAL;
}

// Whether the directory, as Windows reaches it, is the account's own: in the profile the machine
// records for it, or SYSTEM's SystemTemp. One the caller pointed elsewhere (System32, another
// user's temporary directory, a share) is someone else's place, where the elevated run would
// create and replace files in their name.
bool IsAccountsOwn(const std::wstring& reached) {
    ProcessUser user;
    if (reached.empty() || !ReadProcessUser(user))
        return false;
    if (LiesIn(reached, ReachedFolder(ProfileFolderOf(user.token.get()))))
        return true;
    if (!ProcessIsSystem())
        return false;
    const std::wstring windows = QueriedPath(
        [](DWORD size, LPWSTR buffer) { return ::GetSystemWindowsDirectoryW(buffer, size); });
    return IsFullPath(windows) &&
           LiesIn(reached, ReachedFolder(WithTrailingBackslash(windows) + L"SystemTemp"));
}

struct TempDirectory {
    std::wstring path; // where it lies, ending in a backslash
    UniqueFileHandle folder;
    bool own = false; // the account's own, where the log may be written

    TempDirectory() {
        Take(AskForTempDirectory());
        // SYSTEM on a Windows without GetTempPath2W is given the machine's Temp, where every user
        // creates names: its log goes to the Temp of its own profile instead, where it exists.
        if (!own && ProcessIsSystem()) {
            TempDirectory profileTemp(SystemProfileTemp());
            if (profileTemp.own)
                *this = std::move(profileTemp);
        }
    }

private:
    explicit TempDirectory(const std::wstring& asked) { Take(asked); }
    TempDirectory& operator=(TempDirectory&&) = default;

    void Take(const std::wstring& asked) {
        // A directory that is missing is not created: the path is the user's to set, and an
        // elevated creation would follow whatever links lie on its way. Without it the run logs
        // to the debugger only and extracts nothing.
        folder = OpenFolder(asked);
        // Named as Windows reaches it, with every junction on the way resolved: the names built
        // on it lead to this folder for as long as it is held. A folder without a drive letter
        // keeps the name it was asked by.
        const std::wstring reached = folder ? FinalPathOf(folder.get()) : std::wstring();
        path = reached.empty() ? asked : WithTrailingBackslash(reached);
        own = !reached.empty() && IsAccountsOwn(path);
    }

    // "AppData\Local\Temp" in the profile the machine records for the process's account.
    static std::wstring SystemProfileTemp() {
        ProcessUser user;
        const std::wstring profile =
            ReadProcessUser(user) ? ProfileFolderOf(user.token.get()) : std::wstring();
        return profile.empty() ? std::wstring()
                               : WithTrailingBackslash(profile) + L"AppData\\Local\\Temp\\";
    }
};

const TempDirectory& TheTempDirectory() {
    static const TempDirectory temp;
    return temp;
}

} // namespace

std::wstring CUtility::GetTempDirectory() {
    return TheTempDirectory().path;
}

HANDLE CUtility::TempDirectoryHandle() {
    return TheTempDirectory().folder.get();
}

HANDLE CUtility::LogDirectoryHandle() {
    const TempDirectory& temp = TheTempDirectory();
    return temp.own ? temp.folder.get() : nullptr;
}
