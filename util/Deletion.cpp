#include "util/Utility.h"

#include "framework/UniqueHandle.h"
#include "util/SystemCalls.h"

#include <winioctl.h>

#include <cstring>
#include <vector>

namespace {

constexpr wchar_t kProtectedMarker[] = L"ProgramData";
constexpr DWORD kReparseBufferBytes = 4096;

bool IsDotEntry(const wchar_t* name) {
    return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

bool IsReparsePoint(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

} // namespace

int CUtility::IsProtectedMountPoint(const std::wstring& path) noexcept {
    if (path.find(kProtectedMarker) == std::wstring::npos)
        return 0;

    UniqueFileHandle handle(::CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                          nullptr));
    if (!handle)
        return 0;

    std::vector<unsigned char> buffer;
    try {
        buffer.resize(kReparseBufferBytes);
    } catch (...) {
        return 0;
    }
    DWORD returned = 0;
    if (!g_os.DeviceIoControl(handle.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, buffer.data(),
                              kReparseBufferBytes, &returned, nullptr))
        return 0;

    DWORD tag = 0;
    std::memcpy(&tag, buffer.data(), sizeof tag);
    return tag == IO_REPARSE_TAG_MOUNT_POINT ? 1 : 0;
}

int CUtility::SafeDeleteFile(const std::wstring& path) noexcept {
    if (!PathExists(path))
        return 1;
    if (IsProtectedMountPoint(path))
        return 0;
    return ::DeleteFileW(path.c_str()) ? 1 : 0;
}

int CUtility::SafeRemoveDirectory(const std::wstring& path) noexcept {
    if (!PathExists(path))
        return 1;
    if (IsProtectedMountPoint(path))
        return 0;
    return ::RemoveDirectoryW(path.c_str()) ? 1 : 0;
}

void CUtility::DeleteTree(const std::wstring& path) noexcept {
    try {
        // The program runs elevated: walking into a junction or directory link would delete
        // whatever it points at. A link is removed as an entry of its own, never entered.
        if (IsReparsePoint(g_os.GetFileAttributesW(path.c_str()))) {
            SafeRemoveDirectory(path);
            return;
        }

        std::wstring dir = path;
        if (dir.empty() || dir.back() != L'\\')
            dir += L'\\';

        WIN32_FIND_DATAW entry;
        UniqueFindHandle search(g_os.FindFirstFileW((dir + L"*").c_str(), &entry));
        if (search) {
            do {
                const std::wstring child = dir + entry.cFileName;
                if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                    SafeDeleteFile(child);
                else if (IsDotEntry(entry.cFileName))
                    continue;
                else if (IsReparsePoint(entry.dwFileAttributes))
                    SafeRemoveDirectory(child);
                else
                    DeleteTree(child);
            } while (g_os.FindNextFileW(search.get(), &entry));
        }
        search.reset();

        SafeRemoveDirectory(path);
    } catch (...) {
        // Out of memory for a path: what is left stays, as any other failed deletion.
    }
}
