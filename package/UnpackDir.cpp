#include "package/UnPack.h"

#include "package/FolderSecurity.h"
#include "util/SystemCalls.h"
#include "util/Utility.h"

#include <sddl.h>

namespace {

constexpr wchar_t kGetUnpackDir[] = L"CUnPack::GetUnpackDir";

// A folder that was just deleted may still be pending removal; creation is tried again for up
// to two seconds.
constexpr int kMaxCreateRetries = 20;
constexpr DWORD kRetryPauseMs = 100;

std::wstring WithoutTrailingBackslashes(std::wstring path) {
    while (!path.empty() && path.back() == L'\\')
        path.pop_back();
    return path;
}

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

    wchar_t temp[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH, temp);
    unpackDir_ = std::wstring(temp) + L"unpack\\";

    if (!RemoveWhatStandsThere() || !CreateOwnFolder())
        folder_.reset();
    return unpackDir_;
}

// True when nothing is left at the folder's path.
bool CUnPack::RemoveWhatStandsThere() {
    const std::wstring path = WithoutTrailingBackslashes(unpackDir_);
    const DWORD attributes = g_os.GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return true;

    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        // A junction or link in the folder's place goes as a link; what it points at stays.
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
            ::RemoveDirectoryW(path.c_str());
        else
            ::DeleteFileW(path.c_str());
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        // A plain file where the folder should be would make every run fail to extract.
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(path.c_str());
    } else {
        Cleanup();
    }

    if (g_os.GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return true;
    CUtility::Log(L"[%s] Stale folder could not be removed:%s", kGetUnpackDir, unpackDir_.c_str());
    return false;
}

// True when this call created the folder and now holds it.
bool CUnPack::CreateOwnFolder() {
    const UniqueLocalMemory descriptor = BuildFolderSecurity();
    SECURITY_ATTRIBUTES security = {sizeof security, descriptor.get(), FALSE};

    // Only a creation that succeeded makes the folder this run's: 183 (already there) is a
    // failure like any other.
    int result = descriptor ? g_os.SHCreateDirectoryExW(nullptr, unpackDir_.c_str(), &security)
                            : ERROR_INVALID_SECURITY_DESCR;
    for (int retries = 0; descriptor && result != 0 && retries < kMaxCreateRetries; ++retries) {
        result = g_os.SHCreateDirectoryExW(nullptr, unpackDir_.c_str(), &security);
        g_os.Sleep(kRetryPauseMs);
    }
    if (result == 0) {
        // No delete sharing: while this handle is open nobody can rename the folder, delete it
        // or put a link in its place.
        folder_.reset(::CreateFileW(
            WithoutTrailingBackslashes(unpackDir_).c_str(),
            FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        FILE_ATTRIBUTE_TAG_INFO info = {};
        if (folder_ &&
            ::GetFileInformationByHandleEx(folder_.get(), FileAttributeTagInfo, &info,
                                           sizeof info) &&
            (info.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0)
            return true;
        folder_.reset();
    }
    ::SetLastError(static_cast<DWORD>(result));
    CUtility::Log(L"[%s] Folder could not be created:%s", kGetUnpackDir, unpackDir_.c_str());
    return false;
}

void CUnPack::Cleanup() {
    if (unpackDir_.empty())
        return;

    // Held until now so that nobody could swap the folder; it cannot be deleted while held.
    folder_.reset();
    CUtility::DeleteTree(unpackDir_);

    std::wstring parent = WithoutTrailingBackslashes(unpackDir_);
    CUtility::RemovePathComponents(parent, 1);

    // The folder cannot go while it is the current directory (the default script runs in it).
    ::SetCurrentDirectoryW(parent.c_str());
    ::RemoveDirectoryW(unpackDir_.c_str());
}
