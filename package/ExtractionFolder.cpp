#include "package/ExtractionFolder.h"

#include "package/EarlierRuns.h"
#include "package/FolderName.h"
#include "package/FolderSecurity.h"
#include "package/EntryName.h"
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

constexpr wchar_t kAdministratorsSid[] = L"S-1-5-32-544";

// Fresh names are drawn again while one is taken; a clash of 64 random bits is never expected.
constexpr int kMaxFreshNames = 8;

// A file just written may be opened by another program for a moment (a virus scanner looking at
// what was closed): holding it is tried again for up to two seconds.
constexpr int kMaxHoldRetries = 200;
constexpr DWORD kHoldPauseMs = 10;

// The process's own user as "S-1-5-...", empty when it cannot be had.
std::wstring ProcessUserSid() {
    ProcessUser user;
    return ReadProcessUser(user) ? SidText(user.Sid()) : std::wstring();
}

// Who owns the run's folders: the Administrators group, or the process's own user when the
// token is not an administrator's. Empty when it cannot be told.
std::wstring FolderOwnerSid() {
    return ProcessIsAdministrator() ? std::wstring(kAdministratorsSid) : ProcessUserSid();
}

// The descriptor the folder is created with; empty when it cannot be built.
UniqueLocalMemory BuildFolderSecurity(const std::wstring& ownerSid) {
    if (ownerSid.empty())
        return UniqueLocalMemory();
    const bool administrators = ownerSid == kAdministratorsSid;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
            package::ExtractionFolderSddl(administrators, administrators ? L"" : ownerSid).c_str(),
            SDDL_REVISION_1, &descriptor, nullptr))
        return UniqueLocalMemory();
    return UniqueLocalMemory(descriptor);
}

// 64 bits from the system's random number generator (advapi32's RtlGenRandom); false when it
// cannot be had.
bool RandomNumber(std::uint64_t& number) noexcept {
    using GenRandomFunction = BOOLEAN(WINAPI*)(PVOID buffer, ULONG length);
    static const GenRandomFunction generate =
        reinterpret_cast<GenRandomFunction>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"advapi32.dll"), "SystemFunction036")));
    return generate != nullptr && generate(&number, sizeof number);
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

// A path as Windows compares names, without case: two paths name one file when these are equal.
std::wstring UpperCased(std::wstring path) {
    if (!path.empty())
        ::CharUpperBuffW(path.data(), static_cast<DWORD>(path.size()));
    return path;
}

// Created by the very call that returns its handle, so that no rename can come between creating
// a folder and holding it: only a creation that succeeded makes it this run's, and one already
// there is a failure like any other. The handle denies delete sharing: while it is open nobody
// can rename the folder, delete it or put a link in its place.
UniqueFileHandle CreateFolderIn(HANDLE parent, const std::wstring& name,
                                PSECURITY_DESCRIPTOR descriptor) {
    OpenAtRequest create;
    create.access = FILE_LIST_DIRECTORY | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | FILE_TRAVERSE;
    create.share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    create.disposition = FILE_CREATE;
    create.options = FILE_DIRECTORY_FILE;
    create.security = descriptor;
    return OpenAt(parent, name, create);
}

} // namespace

void ExtractionFolder::Create(Naming naming) {
    root_ = OpenExtractionRoot();
    name_ = package::kFolderName;
    path_ = root_.path + name_ + L"\\";
    const std::wstring owner = FolderOwnerSid();
    const UniqueLocalMemory descriptor = BuildFolderSecurity(owner);
    if (!root_.folder || !descriptor) {
        if (!descriptor)
            ::SetLastError(ERROR_INVALID_SECURITY_DESCR);
        CUtility::Log(L"[%s] Folder could not be created:%s", kGetUnpackDir, path_.c_str());
        return;
    }

    if (naming == Naming::extraction) {
        RemoveEarlierRuns(root_, owner);
        if (CreateOwnFolder(name_, descriptor.get()))
            return;
    }
    // The name is taken by something this run may not remove (a folder or file another program
    // made, an earlier run's folder still in use): it stays as it is, and this run takes a name
    // nobody can guess beside it.
    const std::wstring taken = path_;
    for (int attempt = 0; attempt < kMaxFreshNames; ++attempt) {
        std::uint64_t random = 0;
        if (!RandomNumber(random))
            break;
        name_ = package::FreshFolderName(random);
        path_ = root_.path + name_ + L"\\";
        if (CreateOwnFolder(name_, descriptor.get())) {
            if (naming == Naming::extraction)
                CUtility::Log(L"[%s] %s is taken and stays as it is; extracting into %s",
                              kGetUnpackDir, taken.c_str(), path_.c_str());
            return;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    CUtility::Log(L"[%s] Folder could not be created:%s", kGetUnpackDir, path_.c_str());
}

// True when this call created the folder and now holds it.
bool ExtractionFolder::CreateOwnFolder(const std::wstring& name, PSECURITY_DESCRIPTOR descriptor) {
    folder_ = CreateFolderIn(root_.folder.get(), name, descriptor);
    if (folder_ && ReadState(folder_.get(), folderState_))
        return true;
    folder_.reset();
    return false;
}

ExtractionFolder::Place ExtractionFolder::PlaceFor(const std::wstring& entryPath) {
    const std::vector<std::wstring> components = package::SplitEntryPath(entryPath);
    HANDLE parent = folder_.get();
    std::wstring path;
    for (size_t i = 0; i + 1 < components.size(); ++i) {
        path += (path.empty() ? L"" : L"\\") + components[i];
        if (const Made* made = Find(path)) {
            if (!made->isFolder) {
                ::SetLastError(ERROR_ALREADY_EXISTS);
                return Place();
            }
            parent = made->held.get();
            continue;
        }
        // Inherits the folder's protection; held like the folder, until it is deleted.
        UniqueFileHandle created = CreateFolderIn(parent, components[i], nullptr);
        if (!created)
            return Place();
        parent = created.get();
        made_.emplace(UpperCased(path), Made{path, std::move(created), true});
    }
    return Place{parent, components.back()};
}

bool ExtractionFolder::Keep(CFile& written, const Place& place, const std::wstring& entryPath) {
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
    UniqueFileHandle held = OpenAt(place.folder, place.name, hold);
    for (int retries = 0;
         !held && ::GetLastError() == ERROR_SHARING_VIOLATION && retries < kMaxHoldRetries;
         ++retries) {
        g_os.Sleep(kHoldPauseMs);
        held = OpenAt(place.folder, place.name, hold);
    }
    FileState found;
    if (!held || !ReadState(held.get(), found) || !(found == left) || found.links != 1)
        return false;
    made_.emplace(UpperCased(entryPath), Made{entryPath, std::move(held), false});
    return true;
}

const ExtractionFolder::Made* ExtractionFolder::Find(const std::wstring& entryPath) const {
    const auto found = made_.find(UpperCased(entryPath));
    return found == made_.end() ? nullptr : &found->second;
}

bool ExtractionFolder::HasExtracted(const std::wstring& entryPath, std::wstring* written) const {
    const Made* made = Find(entryPath);
    if (made == nullptr || made->isFolder)
        return false;
    if (written != nullptr)
        *written = made->path;
    return true;
}

bool ExtractionFolder::HasMade(const std::wstring& entryPath) const {
    return Find(entryPath) != nullptr;
}

HANDLE ExtractionFolder::HeldFile(const std::wstring& entryPath) const {
    const Made* made = Find(entryPath);
    return made != nullptr && !made->isFolder ? made->held.get() : nullptr;
}

bool ExtractionFolder::Holds(HANDLE parent, const std::wstring& name) {
    OpenAtRequest look;
    const UniqueFileHandle there = OpenAt(parent, name, look);
    const DWORD error = ::GetLastError();
    return there || error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

void ExtractionFolder::LetGo() noexcept {
    made_.clear();
    folder_.reset();
}

bool ExtractionFolder::Delete(std::vector<std::wstring>* leftovers) {
    if (path_.empty())
        return true;
    // The files and folders are held no more, and the folder is opened again for deletion once
    // the handle that kept it in place is closed: it goes, with everything the installer left in
    // it, only if it is the very folder this run created.
    const bool wasOwn = IsOwn();
    LetGo();
    if (!wasOwn && folderState_.index == 0)
        return true; // never created: nothing of this run's is there
    OpenAtRequest open;
    open.access = DELETE | FILE_LIST_DIRECTORY;
    open.options = FILE_DIRECTORY_FILE;
    UniqueFileHandle folder = OpenAt(root_.folder.get(), name_, open);
    const bool inUse = !folder && ::GetLastError() == ERROR_SHARING_VIOLATION;
    if (inUse) {
        // A program that runs with its current directory in the folder keeps it: what is in it
        // goes all the same, and the folder itself stays.
        open.access = FILE_LIST_DIRECTORY;
        folder = OpenAt(root_.folder.get(), name_, open);
    }
    if (!folder)
        return IsMissing(::GetLastError());
    FileState found;
    if (!ReadState(folder.get(), found) || !found.SameFileAs(folderState_))
        return true; // another program's by now: never this run's to delete
    const std::wstring path = WithoutTrailingBackslashes(path_);
    if (!inUse)
        return CUtility::DeleteTree(folder.get(), path, leftovers);
    (void)CUtility::DeleteContents(folder.get(), path, leftovers);
    if (leftovers != nullptr)
        leftovers->push_back(path);
    return false;
}
