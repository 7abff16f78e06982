#include "package/UnPack.h"

#include "package/FileByteSource.h"
#include "package/PackageFormat.h"
#include "util/File.h"
#include "util/LogSources.h"
#include "util/PathText.h"
#include "util/Utility.h"

namespace {

using logsource::kFindHeader;

} // namespace

DWORD WINAPI CUnPack::WorkerThread(LPVOID self) {
    return static_cast<DWORD>(static_cast<CUnPack*>(self)->UnPackFiles());
}

DWORD CUnPack::StartAndWait() {
    (void)GetUnpackDir();
    if (!thread_)
        thread_.reset(::CreateThread(nullptr, 0, &CUnPack::WorkerThread, this, 0, nullptr));
    if (thread_ && ::WaitForSingleObject(thread_.get(), INFINITE) == WAIT_OBJECT_0)
        thread_.reset();
    return result_;
}

ULONGLONG CUnPack::FindHeader() {
    CFile file;
    package::PackageLocation location;
    return OpenPackage(file, location);
}

ULONGLONG CUnPack::OpenPackage(CFile& file, package::PackageLocation& location) {
    const std::wstring path = CUtility::GetModulePath();
    CUtility::Log(L"[%s] Name:%s", kFindHeader, path.c_str());

    CFileException error;
    if (!file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone, &error)) {
        CUtility::Log(L"[%s] Fail", kFindHeader);
        CUtility::FileException(error);
        // What lies at the image's path may be another program's file, put there after the
        // image was renamed, and locked so that reading it would wait: nothing of it is read.
        if (error.OsError() == ERROR_SHARING_VIOLATION)
            CUtility::Log(L"[%s] The stub's file is in use by another program: no package is "
                          L"read from it, nothing is extracted",
                          kFindHeader);
        return 0;
    }

    FileByteSource source(file);
    location = package::LocatePackage(source);
    if (!location.peHeadersRead)
        return 0;
    CUtility::Log(L"[%s] Sign Size:%d", kFindHeader, location.certificateSize);
    CUtility::Log(L"[%s] Header offset:%d", kFindHeader,
                  static_cast<int>(static_cast<std::uint32_t>(location.headerOffset)));
    return location.headerOffset;
}

std::wstring CUnPack::GetUnpackDir() {
    if (folder_.Path().empty())
        folder_.Create();
    return folder_.Path();
}

bool CUnPack::Cleanup(std::vector<std::wstring>* leftovers) {
    const std::wstring& folder = folder_.Path();
    if (folder.empty())
        return true;
    // The folder cannot go while it is the current directory (the default script runs in it).
    std::wstring parent = WithoutTrailingBackslashes(folder);
    CUtility::RemovePathComponents(parent, 1);
    ::SetCurrentDirectoryW(parent.c_str());
    return folder_.Delete(leftovers);
}
