#include "util/SameFile.h"

#include "framework/UniqueHandle.h"
#include "util/SystemCalls.h"

namespace {

bool IdentityOf(HANDLE file, BY_HANDLE_FILE_INFORMATION& identity) noexcept {
    return ::GetFileInformationByHandle(file, &identity) != FALSE;
}

} // namespace

bool PathReaches(const std::wstring& path, HANDLE held) {
    const UniqueFileHandle reached(g_os.CreateFileW(
        path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION there = {};
    BY_HANDLE_FILE_INFORMATION kept = {};
    return reached && held != nullptr && IdentityOf(reached.get(), there) &&
           IdentityOf(held, kept) && there.dwVolumeSerialNumber == kept.dwVolumeSerialNumber &&
           there.nFileIndexHigh == kept.nFileIndexHigh && there.nFileIndexLow == kept.nFileIndexLow;
}
