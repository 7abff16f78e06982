#include "package/EarlierRuns.h"

#include "package/FolderDescriptor.h"
#include "package/FolderName.h"
#include "util/FilesAt.h"
#include "util/LogSources.h"
#include "util/ProcessUser.h"
#include "util/RestartDeletion.h"
#include "util/Utility.h"

#include <vector>

namespace {

constexpr wchar_t kSystemSid[] = L"S-1-5-18";

} // namespace

bool MadeByARun(HANDLE folder, const std::wstring& ownerSid) {
    FolderDescriptor read;
    if (!ReadFolderDescriptor(folder, read) || SidText(read.owner) != ownerSid ||
        read.dacl == nullptr || (read.control & SE_DACL_PROTECTED) == 0 || read.dacl->AceCount == 0)
        return false;
    const PACL dacl = read.dacl;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACE_HEADER* ace = nullptr;
        if (!::GetAce(dacl, i, reinterpret_cast<void**>(&ace)) ||
            ace->AceType != ACCESS_ALLOWED_ACE_TYPE)
            return false;
        const std::wstring grantee = SidText(&reinterpret_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart);
        if (grantee != kSystemSid && grantee != ownerSid)
            return false;
    }
    return true;
}

void RemoveEarlierRuns(const ExtractionRoot& root, const std::wstring& ownerSid) {
    std::vector<std::wstring> names;
    if (!ListFolder(root.folder.get(), names))
        return;
    OpenAtRequest open;
    open.access = DELETE | FILE_LIST_DIRECTORY | READ_CONTROL;
    open.options = FILE_DIRECTORY_FILE;
    for (const std::wstring& name : names) {
        if (!package::IsRunFolderName(name))
            continue;
        // One another run still holds (not sharing deletion) is in use, and is that run's to
        // delete.
        const UniqueFileHandle folder = OpenAt(root.folder.get(), name, open);
        if (!folder || !MadeByARun(folder.get(), ownerSid))
            continue;
        std::vector<std::wstring> leftovers;
        if (!CUtility::DeleteTree(folder.get(), root.path + name, &leftovers))
            LeaveForLater(leftovers, root.closedToUsers, logsource::kGetUnpackDir);
    }
}
