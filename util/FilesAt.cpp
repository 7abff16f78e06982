#include "util/FilesAt.h"

#include "util/PathText.h"
#include "util/QueriedPath.h"
#include "util/SystemCalls.h"

#include <winternl.h>

#include <vector>

namespace {

using StatusToErrorFunction = ULONG(NTAPI*)(NTSTATUS status);

constexpr NTSTATUS kOplockBreakInProgress = 0x00000108; // STATUS_OPLOCK_BREAK_IN_PROGRESS

// ntdll is in every process; its converter is looked up once.
DWORD ErrorOf(NTSTATUS status) noexcept {
    static const StatusToErrorFunction convert =
        reinterpret_cast<StatusToErrorFunction>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlNtStatusToDosError")));
    return convert != nullptr ? convert(status) : ERROR_GEN_FAILURE;
}

// Opens `name`, relative to `root` when it is not null. Never waits for another program's
// opportunistic lock: the desktop user may hold one on a file of their own (the log, the
// temporary directory, a file put where the stub's image was), and an elevated open that waited
// for them to let go would stop the run, and every later one behind the single-instance mutex. A
// file whose lock is being broken is taken as one in use.
UniqueFileHandle OpenObject(HANDLE root, UNICODE_STRING& objectName, const OpenAtRequest& request,
                            ULONG moreOptions) noexcept {
    if (g_os.NtCreateFile == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return UniqueFileHandle();
    }
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, root,
                               request.security);
    IO_STATUS_BLOCK status = {};
    HANDLE handle = nullptr;
    const NTSTATUS result = g_os.NtCreateFile(
        &handle, request.access | SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes, &status, nullptr,
        FILE_ATTRIBUTE_NORMAL, request.share, request.disposition,
        request.options | moreOptions | FILE_SYNCHRONOUS_IO_NONALERT | FILE_COMPLETE_IF_OPLOCKED,
        nullptr, 0);
    if (result < 0) {
        ::SetLastError(ErrorOf(result));
        return UniqueFileHandle();
    }
    UniqueFileHandle opened(handle);
    if (result == kOplockBreakInProgress) {
        opened.reset();
        ::SetLastError(ERROR_SHARING_VIOLATION);
    }
    return opened;
}

} // namespace

UniqueFileHandle OpenAt(HANDLE parent, const std::wstring& name,
                        const OpenAtRequest& request) noexcept {
    if (parent == nullptr || parent == INVALID_HANDLE_VALUE || name.empty() ||
        name.size() > 32767) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return UniqueFileHandle();
    }
    UNICODE_STRING objectName;
    objectName.Buffer = const_cast<PWSTR>(name.c_str());
    objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
    objectName.MaximumLength = objectName.Length;
    return OpenObject(parent, objectName, request, FILE_OPEN_REPARSE_POINT);
}

UniqueFileHandle OpenByPath(const std::wstring& path, const OpenAtRequest& request) noexcept {
    using ToNtPathFunction = BOOLEAN(NTAPI*)(PCWSTR dosName, PUNICODE_STRING ntName,
                                             PWSTR * filePart, PVOID relativeName);
    static const ToNtPathFunction toNtPath =
        reinterpret_cast<ToNtPathFunction>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlDosPathNameToNtPathName_U")));
    // The conversion CreateFileW makes: relative to the current directory, "\\?\" kept as it is,
    // trailing dots and blanks of the last component dropped, UNC paths under "\??\UNC\".
    UNICODE_STRING ntPath = {};
    if (toNtPath == nullptr || path.empty() || !toNtPath(path.c_str(), &ntPath, nullptr, nullptr)) {
        ::SetLastError(ERROR_PATH_NOT_FOUND);
        return UniqueFileHandle();
    }
    const UniqueProcessHeapMemory converted(ntPath.Buffer);
    return OpenObject(nullptr, ntPath, request, 0);
}

FileKind KindOf(HANDLE file) noexcept {
    FileKind kind;
    FILE_ATTRIBUTE_TAG_INFO tag = {};
    FILE_STANDARD_INFO standard = {};
    if (!g_os.GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) ||
        !g_os.GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof standard))
        return kind;
    kind.known = true;
    kind.attributes = tag.FileAttributes;
    kind.reparseTag = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? tag.ReparseTag : 0;
    kind.links = standard.NumberOfLinks;
    return kind;
}

bool FileIndexOf(HANDLE file, ULONGLONG& index) noexcept {
    using QueryFunction = LONG(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
    static const QueryFunction query = reinterpret_cast<QueryFunction>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
    constexpr ULONG kFileInternalInformation = 6;
    IO_STATUS_BLOCK status = {};
    LARGE_INTEGER value = {};
    if (query == nullptr ||
        query(file, &status, &value, sizeof value, kFileInternalInformation) < 0)
        return false;
    index = static_cast<ULONGLONG>(value.QuadPart);
    return true;
}

bool DeleteThrough(HANDLE file) noexcept {
    FILE_DISPOSITION_INFO disposition = {};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof disposition) != FALSE;
}

bool ListFolder(HANDLE folder, std::vector<std::wstring>& names) {
    names.clear();
    // Aligned for the records' 64-bit fields; 64 KiB holds some hundreds of names a call.
    std::vector<LONGLONG> buffer(64 * 1024 / sizeof(LONGLONG));
    FILE_INFO_BY_HANDLE_CLASS query = FileIdBothDirectoryRestartInfo;
    for (;;) {
        if (!g_os.GetFileInformationByHandleEx(
                folder, query, buffer.data(), static_cast<DWORD>(buffer.size() * sizeof(LONGLONG))))
            return ::GetLastError() == ERROR_NO_MORE_FILES;
        query = FileIdBothDirectoryInfo;
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
        for (;;) {
            const auto* entry = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(bytes);
            const std::wstring name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..")
                names.push_back(name);
            if (entry->NextEntryOffset == 0)
                break;
            bytes += entry->NextEntryOffset;
        }
    }
}

std::wstring FinalPathOf(HANDLE file) {
    return PathToHandOn(QueriedPath([file](DWORD size, LPWSTR buffer) {
        return g_os.GetFinalPathNameByHandleW(file, buffer, size,
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    }));
}
