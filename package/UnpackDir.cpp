#include "package/UnPack.h"

#include "package/FolderSecurity.h"
#include "util/FilesAt.h"
#include "util/PathText.h"
#include "util/SystemCalls.h"
#include "util/Utility.h"

#include <sddl.h>
#include <winternl.h>

#include <algorithm>

namespace {

constexpr wchar_t kGetUnpackDir[] = L"CUnPack::GetUnpackDir";
constexpr wchar_t kFolderName[] = L"unpack";

// A folder that was just deleted may still be pending removal; creation is tried again for up
// to two seconds.
constexpr int kMaxCreateRetries = 20;
constexpr DWORD kRetryPauseMs = 100;

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
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw))
        return std::wstring();
    UniqueHandle token(raw);
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info;
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenUser, &info, sizeof info, &size))
        return std::wstring();
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(info.user.User.Sid, &text))
        return std::wstring();
    UniqueLocalMemory owned(text);
    return text;
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

} // namespace

std::wstring CUnPack::GetUnpackDir() {
    if (!unpackDir_.empty())
        return unpackDir_;

    unpackDir_ = CUtility::GetTempDirectory() + kFolderName + L"\\";
    if (!RemoveWhatStandsThere() || !CreateOwnFolder())
        folder_.reset();
    return unpackDir_;
}

// True when nothing is left at the folder's path. Whatever stands there is opened as itself in the
// temporary directory and deleted through that handle: a junction or link goes as a link, a file
// as a file, a stale folder with everything in it.
bool CUnPack::RemoveWhatStandsThere() {
    const HANDLE temp = CUtility::TempDirectoryHandle();
    OpenAtRequest open;
    open.access = DELETE | FILE_LIST_DIRECTORY | FILE_WRITE_ATTRIBUTES;
    UniqueFileHandle stale = OpenAt(temp, kFolderName, open);
    if (!stale && IsMissing(::GetLastError()))
        return true;
    if (stale) {
        const FileKind kind = KindOf(stale.get());
        if (kind.known && !kind.IsLink() && !kind.IsFolder()) {
            // A plain file where the folder should be would make every run fail to extract.
            FILE_BASIC_INFO basic = {};
            basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            ::SetFileInformationByHandle(stale.get(), FileBasicInfo, &basic, sizeof basic);
        }
        if (kind.IsFolder() && !kind.IsLink())
            ::SetCurrentDirectoryW(CUtility::GetTempDirectory().c_str());
        (void)CUtility::DeleteThroughHandle(stale.get(), WithoutTrailingBackslashes(unpackDir_));
        stale.reset();
    }

    // Still there and not merely waiting for another program's handle to close: it stays.
    OpenAtRequest look;
    const UniqueFileHandle left = OpenAt(temp, kFolderName, look);
    if (!left && ::GetLastError() != ERROR_ACCESS_DENIED)
        return true;
    CUtility::Log(L"[%s] Stale folder could not be removed:%s", kGetUnpackDir, unpackDir_.c_str());
    return false;
}

// True when this call created the folder and now holds it.
bool CUnPack::CreateOwnFolder() {
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
    if (folder_ && ::GetFileInformationByHandle(folder_.get(), &folderIdentity_))
        return true;
    folder_.reset();
    CUtility::Log(L"[%s] Folder could not be created:%s", kGetUnpackDir, unpackDir_.c_str());
    return false;
}

bool CUnPack::HasExtracted(const std::wstring& name, std::wstring* written) const {
    for (const std::wstring& extracted : extracted_) {
        if (::CompareStringOrdinal(extracted.c_str(), static_cast<int>(extracted.size()),
                                   name.c_str(), static_cast<int>(name.size()),
                                   TRUE) == CSTR_EQUAL) {
            if (written != nullptr)
                *written = extracted;
            return true;
        }
    }
    return false;
}

void CUnPack::ForgetExtracted(const std::wstring& name) {
    std::wstring written;
    while (HasExtracted(name, &written))
        extracted_.erase(std::find(extracted_.begin(), extracted_.end(), written));
}

bool CUnPack::Cleanup() {
    if (unpackDir_.empty())
        return true;
    const std::wstring path = WithoutTrailingBackslashes(unpackDir_);
    // The folder cannot go while it is the current directory (the default script runs in it).
    std::wstring parent = path;
    CUtility::RemovePathComponents(parent, 1);
    ::SetCurrentDirectoryW(parent.c_str());

    if (folder_)
        (void)CUtility::DeleteEntriesThroughHandle(folder_.get(), path);

    // The folder itself is opened again for deletion once the handle that kept it in place is
    // closed, and deleted only if it is the very folder this run created.
    folder_.reset();
    OpenAtRequest open;
    open.access = DELETE | FILE_LIST_DIRECTORY;
    const UniqueFileHandle folder = OpenAt(CUtility::TempDirectoryHandle(), kFolderName, open);
    if (!folder)
        return IsMissing(::GetLastError());
    BY_HANDLE_FILE_INFORMATION identity = {};
    if (!::GetFileInformationByHandle(folder.get(), &identity) ||
        identity.dwVolumeSerialNumber != folderIdentity_.dwVolumeSerialNumber ||
        identity.nFileIndexHigh != folderIdentity_.nFileIndexHigh ||
        identity.nFileIndexLow != folderIdentity_.nFileIndexLow)
        return false;
    // What the installer left behind since, then the folder.
    return CUtility::DeleteThroughHandle(folder.get(), path) != 0;
}
