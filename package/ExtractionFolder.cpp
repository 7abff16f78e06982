#include "package/ExtractionFolder.h"

#include "package/FolderSecurity.h"
#include "util/File.h"
#include "util/FilesAt.h"
#include "util/LogSources.h"
#include "util/PathText.h"
#include "util/ProcessUser.h"
#include "util/SystemCalls.h"
#include "util/Utility.h"

#include <sddl.h>
#include <winternl.h>

namespace {

using logsource::kGetUnpackDir;

constexpr wchar_t kFolderName[] = L"unpack";

// A folder that was just deleted may still be pending removal; creation is tried again for up
// to two seconds.
constexpr int kMaxCreateRetries = 20;
constexpr DWORD kRetryPauseMs = 100;

// A file just written may be opened by another program for a moment (a virus scanner looking at
// what was closed): holding it is tried again for up to two seconds.
constexpr int kMaxHoldRetries = 200;
constexpr DWORD kHoldPauseMs = 10;

bool TokenIsAdministrator() noexcept {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!::AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0,
                                    0, 0, 0, 0, 0, &administrators))
        return false;
    BOOL member = FALSE;
    if (!::CheckTokenMembership(nullptr, administrators, &member))
        member = FALSE;
    ::FreeSid(administrators);
    return member != FALSE;
}

// The process's own user as "S-1-5-...", empty when it cannot be had.
std::wstring ProcessUserSid() {
    ProcessUser user;
    return ReadProcessUser(user) ? SidText(user.Sid()) : std::wstring();
}

// The descriptor the folder is created with; empty when it cannot be built.
UniqueLocalMemory BuildFolderSecurity() {
    const bool administrator = TokenIsAdministrator();
    const std::wstring user = administrator ? std::wstring() : ProcessUserSid();
    if (!administrator && user.empty())
        return UniqueLocalMemory();
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            package::ExtractionFolderSddl(administrator, user).c_str(), SDDL_REVISION_1,
            &descriptor, nullptr))
        return UniqueLocalMemory();
    return UniqueLocalMemory(descriptor);
}

bool ReadState(HANDLE file, FileState& state) noexcept {
    FILE_BASIC_INFO basic = {};
    FILE_STANDARD_INFO standard = {};
    if (!FileIndexOf(file, state.index) ||
        !g_os.GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) ||
        !g_os.GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard))
        return false;
    state.size = static_cast<ULONGLONG>(standard.EndOfFile.QuadPart);
    state.lastWrite = basic.LastWriteTime.QuadPart;
    state.change = basic.ChangeTime.QuadPart;
    state.links = standard.NumberOfLinks;
    return true;
}

// Sets the write and change times to what they are now: a time set through the handle is one the
// file system keeps when the writer closes, so that the holder finds the file as it was left.
bool PinTimes(HANDLE writer) noexcept {
    FILE_BASIC_INFO basic = {};
    if (!g_os.GetFileInformationByHandleEx(writer, FileBasicInfo, &basic, sizeof basic))
        return false;
    FILE_BASIC_INFO pinned = {}; // zero creation and access times, zero attributes: unchanged
    pinned.LastWriteTime = basic.LastWriteTime;
    pinned.ChangeTime = basic.ChangeTime;
    return ::SetFileInformationByHandle(writer, FileBasicInfo, &pinned, sizeof pinned) != FALSE;
}

// Whether an open of the folder's path failed because nothing is left there, or because its
// deletion waits for another program's handle to close: a folder in that state cannot be opened
// on Windows, and its creation is retried until it is gone. (Wine opens it still, and keeps it
// until that handle closes.)
bool Gone(DWORD error) {
    return IsMissing(error) || error == ERROR_ACCESS_DENIED;
}

} // namespace

void ExtractionFolder::Create() {
    path_ = CUtility::GetTempDirectory() + kFolderName + L"\\";
    if (!RemoveWhatStandsThere() || !CreateOwnFolder())
        folder_.reset();
}

// True when nothing is left at the folder's path. Whatever stands there is opened as itself in the
// temporary directory and deleted through that handle: a junction or link goes as a link, a file
// as a file, a stale folder with everything in it. A file in it that another program still holds
// (the installer of a run that has just ended) is tried again for a while.
bool ExtractionFolder::RemoveWhatStandsThere() {
    const HANDLE temp = CUtility::TempDirectoryHandle();
    for (int attempts = 0; attempts <= kMaxCreateRetries; ++attempts) {
        OpenAtRequest open;
        open.access = DELETE | FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES;
        UniqueFileHandle stale = OpenAt(temp, kFolderName, open);
        if (!stale && Gone(::GetLastError()))
            return true;
        if (stale) {
            RemoveAsItself(stale.get());
            stale.reset(); // what was marked for deletion goes as the handle closes
            OpenAtRequest look;
            if (!OpenAt(temp, kFolderName, look) && Gone(::GetLastError()))
                return true;
        }
        g_os.Sleep(kRetryPauseMs);
    }
    CUtility::Log(L"[%s] Stale folder could not be removed:%s", kGetUnpackDir, path_.c_str());
    return false;
}

void ExtractionFolder::RemoveAsItself(HANDLE stale) {
    const FileKind kind = KindOf(stale);
    if (kind.known && !kind.IsLink() && !kind.IsFolder()) {
        // A plain file where the folder should be would make every run fail to extract.
        FILE_BASIC_INFO basic = {};
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        ::SetFileInformationByHandle(stale, FileBasicInfo, &basic, sizeof basic);
    }
    if (kind.IsFolder() && !kind.IsLink())
        ::SetCurrentDirectoryW(CUtility::GetTempDirectory().c_str());
    (void)CUtility::DeleteTree(stale, WithoutTrailingBackslashes(path_));
}

// True when this call created the folder and now holds it.
bool ExtractionFolder::CreateOwnFolder() {
    const UniqueLocalMemory descriptor = BuildFolderSecurity();

    // Created by the very call that returns its handle, in the temporary directory held since
    // the start: no rename can come between creating the folder and holding it. Only a creation
    // that succeeded makes the folder this run's; one that is already there is a failure like
    // any other. The handle denies delete sharing: while it is open nobody can rename the folder,
    // delete it or put a link in its place.
    OpenAtRequest create;
    create.access = FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE;
    create.share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    create.disposition = FILE_CREATE;
    create.options = FILE_DIRECTORY_FILE;
    create.security = descriptor.get();
    const HANDLE temp = CUtility::TempDirectoryHandle();
    if (descriptor)
        folder_ = OpenAt(temp, kFolderName, create);
    else
        ::SetLastError(ERROR_INVALID_SECURITY_DESCR);
    for (int retries = 0; descriptor && !folder_ && retries < kMaxCreateRetries; ++retries) {
        folder_ = OpenAt(temp, kFolderName, create);
        g_os.Sleep(kRetryPauseMs);
    }
    if (folder_ && ReadState(folder_.get(), folderState_))
        return true;
    folder_.reset();
    CUtility::Log(L"[%s] Folder could not be created:%s", kGetUnpackDir, path_.c_str());
    return false;
}

bool ExtractionFolder::Keep(CFile& written, const std::wstring& name) {
    // The writer must go before the holder can deny writing to others, and between the two no
    // handle stops another program's open where no access-control list does: what the holder
    // finds is compared with what the writer left, its times pinned so that the close itself
    // changes nothing. A file changed in between is never started.
    FileState left;
    const bool pinned = PinTimes(written.Handle()) && ReadState(written.Handle(), left);
    written.Close();
    if (!pinned)
        return false;

    // Reading data makes the share mode count: while this handle is open nobody may open the file
    // for writing or deletion, while the installer may still read it and start it.
    OpenAtRequest hold;
    hold.access = FILE_READ_DATA;
    hold.share = FILE_SHARE_READ;
    hold.options = FILE_NON_DIRECTORY_FILE;
    UniqueFileHandle held = OpenAt(folder_.get(), name, hold);
    for (int retries = 0;
         !held && ::GetLastError() == ERROR_SHARING_VIOLATION && retries < kMaxHoldRetries;
         ++retries) {
        g_os.Sleep(kHoldPauseMs);
        held = OpenAt(folder_.get(), name, hold);
    }
    FileState found;
    if (!held || !ReadState(held.get(), found) || !(found == left) || found.links != 1)
        return false;
    extracted_.push_back(Extracted{name, std::move(held), found});
    return true;
}

bool ExtractionFolder::HasExtracted(const std::wstring& name, std::wstring* written) const {
    for (const Extracted& file : extracted_) {
        if (::CompareStringOrdinal(file.name.c_str(), static_cast<int>(file.name.size()),
                                   name.c_str(), static_cast<int>(name.size()),
                                   TRUE) == CSTR_EQUAL) {
            if (written != nullptr)
                *written = file.name;
            return true;
        }
    }
    return false;
}

bool ExtractionFolder::Discard(const std::wstring& name) {
    std::wstring written;
    if (!HasExtracted(name, &written))
        return true;
    auto file = extracted_.begin();
    while (file->name != written)
        ++file;
    const FileState state = file->state;
    extracted_.erase(file); // the holder closes: the file may be opened for deletion

    OpenAtRequest remove;
    remove.access = DELETE;
    remove.share = 0;
    remove.options = FILE_NON_DIRECTORY_FILE;
    const UniqueFileHandle old = OpenAt(folder_.get(), written, remove);
    FileState found;
    return old && ReadState(old.get(), found) && found.SameFileAs(state) &&
           DeleteThrough(old.get());
}

bool ExtractionFolder::Holds(const std::wstring& name) const {
    OpenAtRequest look;
    const UniqueFileHandle there = OpenAt(folder_.get(), name, look);
    const DWORD error = ::GetLastError();
    return there || error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

void ExtractionFolder::LetGo() noexcept {
    extracted_.clear();
    folder_.reset();
}

bool ExtractionFolder::Delete() {
    if (path_.empty())
        return true;
    // The files are held no more, and the folder is opened again for deletion once the handle
    // that kept it in place is closed: it goes, with everything the installer left in it, only
    // if it is the very folder this run created.
    extracted_.clear();
    folder_.reset();
    OpenAtRequest open;
    open.access = DELETE | FILE_LIST_DIRECTORY;
    const UniqueFileHandle folder = OpenAt(CUtility::TempDirectoryHandle(), kFolderName, open);
    if (!folder)
        return IsMissing(::GetLastError());
    FileState found;
    if (!ReadState(folder.get(), found) || !found.SameFileAs(folderState_))
        return false;
    return CUtility::DeleteTree(folder.get(), WithoutTrailingBackslashes(path_));
}
