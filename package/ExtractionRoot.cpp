#include "package/ExtractionRoot.h"

#include "package/FolderDescriptor.h"
#include "util/FilesAt.h"
#include "util/PathText.h"
#include "util/ProcessUser.h"
#include "util/QueriedPath.h"
#include "util/Utility.h"

namespace {

UniqueFileHandle OpenFolder(const std::wstring& path) {
    // Reading only, so that other programs opening the directory keep working; not sharing
    // deletion, so that it stays where it is while the run uses it.
    OpenAtRequest read;
    read.access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | READ_CONTROL;
    read.share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    return OpenByPath(path, read);
}

// What lets a user create a name in a folder, or give themselves the right to.
constexpr ACCESS_MASK kCreatesNames = FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | WRITE_DAC |
                                      WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL | MAXIMUM_ALLOWED;

// SYSTEM, the Administrators group and TrustedInstaller: nobody else may own the root or be
// granted a creation in it.
bool IsMachineAccount(PSID sid) {
    const std::wstring text = SidText(sid);
    return text == L"S-1-5-18" || text == L"S-1-5-32-544" ||
           text == L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
}

// Read from the open folder's own descriptor. Anything it cannot tell for sure (no descriptor, no
// list, an entry of another kind) counts as open to users.
bool ClosedToUsers(HANDLE folder) {
    FolderDescriptor read;
    if (!ReadFolderDescriptor(folder, read) || read.owner == nullptr ||
        !IsMachineAccount(read.owner) || read.dacl == nullptr)
        return false;
    const PACL dacl = read.dacl;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!::GetAce(dacl, i, reinterpret_cast<void**>(&ace)))
            return false;
        if (ace->AceType == ACCESS_DENIED_ACE_TYPE || (ace->AceFlags & INHERIT_ONLY_ACE) != 0)
            continue; // takes rights away, or applies to what is created inside only
        if (ace->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return false;
        const auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kCreatesNames) != 0 &&
            !IsMachineAccount(const_cast<DWORD*>(&allowed->SidStart)))
            return false;
    }
    return true;
}

} // namespace

ExtractionRoot OpenExtractionRoot() {
    ExtractionRoot root;
    if (!ProcessIsAdministrator()) {
        // The temporary directory the log lies in, through the handle held since the start.
        root.path = CUtility::GetTempDirectory();
        HANDLE copy = nullptr;
        if (::DuplicateHandle(::GetCurrentProcess(), CUtility::TempDirectoryHandle(),
                              ::GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS))
            root.folder.reset(copy);
        return root;
    }
    const std::wstring windows = WithTrailingBackslash(QueriedPath(
        [](DWORD size, LPWSTR buffer) { return ::GetSystemWindowsDirectoryW(buffer, size); }));
    if (!IsFullPath(windows))
        return root; // no folder: nothing is extracted
    if (ProcessIsSystem()) {
        root.path = windows + L"SystemTemp\\";
        root.folder = OpenFolder(root.path);
        if (root.folder) {
            root.closedToUsers = ClosedToUsers(root.folder.get());
            return root;
        }
    }
    root.path = windows + L"Temp\\";
    root.folder = OpenFolder(root.path);
    root.closedToUsers = root.folder && ClosedToUsers(root.folder.get());
    return root;
}
