#include "package/ExtractionRoot.h"

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
    read.access = FILE_LIST_DIRECTORY | FILE_TRAVERSE;
    read.share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    return OpenByPath(path, read);
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
        if (root.folder)
            return root;
    }
    root.path = windows + L"Temp\\";
    root.folder = OpenFolder(root.path);
    return root;
}
