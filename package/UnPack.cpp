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
    auto* unpack = static_cast<CUnPack*>(self);
    try {
        return static_cast<DWORD>(unpack->UnPackFiles());
    } catch (...) {
        // Out of memory midway: what was written was never held against the digest.
        CUtility::Log(L"[%s] Package refused: the extraction failed midway; nothing of it is kept",
                      logsource::kUnPackFiles);
        unpack->result_ = ERROR_INSTALL_PACKAGE_INVALID;
        return 0;
    }
}

DWORD CUnPack::StartAndWait() noexcept {
    try {
        (void)GetUnpackDir();
    } catch (...) {
        return ERROR_INSTALL_FAILURE; // no memory for a path: nothing can be extracted
    }
    if (!thread_)
        thread_.reset(::CreateThread(nullptr, 0, &CUnPack::WorkerThread, this, 0, nullptr));
    if (thread_ && ::WaitForSingleObject(thread_.get(), INFINITE) == WAIT_OBJECT_0)
        thread_.reset();
    return result_;
}

ULONGLONG CUnPack::FindHeader() noexcept {
    CFile file;
    package::PackageLocation location;
    return OpenPackage(file, location);
}

ULONGLONG CUnPack::OpenPackage(CFile& file, package::PackageLocation& location) noexcept {
    try {
        const std::wstring path = CUtility::GetModulePath();
        CUtility::Log(L"[%s] Name:%s", kFindHeader, path.c_str());

        CFileException error;
        if (!file.Open(path.c_str(), CFile::modeRead | CFile::shareDenyNone, &error)) {
            CUtility::Log(L"[%s] Fail", kFindHeader);
            CUtility::FileException(error);
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
    } catch (...) {
        return 0;
    }
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
