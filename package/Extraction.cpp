#include "package/UnPack.h"

#include "framework/File.h"
#include "package/PackageFormat.h"
#include "res/resource.h"
#include "util/ProductMessage.h"
#include "util/SystemCalls.h"
#include "util/Utility.h"

#include <string>

namespace {

constexpr wchar_t kUnPackFiles[] = L"CUnPack::UnPackFiles";

// Payloads are streamed through one small buffer: a package of any size needs no more memory.
constexpr UINT kCopyBlock = 1024;

int Low32(ULONGLONG value) {
    return static_cast<int>(static_cast<std::uint32_t>(value));
}
long long Signed64(ULONGLONG value) {
    return static_cast<long long>(value);
}

// Total free bytes of the volume of `directory` (the current directory when null); `previous`
// when the query fails.
ULONGLONG FreeBytesOf(const wchar_t* directory, ULONGLONG previous) {
    ULARGE_INTEGER totalFree;
    if (g_os.GetDiskFreeSpaceExW(directory, nullptr, nullptr, &totalFree))
        return totalFree.QuadPart;
    return previous;
}

std::wstring ProgramFilesFolder() {
    wchar_t folder[MAX_PATH + 1] = {};
    if (SUCCEEDED(g_os.SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILESX86, nullptr,
                                        SHGFP_TYPE_CURRENT, folder)))
        return folder;
    folder[0] = L'\0';
    g_os.SHGetFolderPathW(nullptr, CSIDL_PROGRAM_FILES, nullptr, SHGFP_TYPE_CURRENT, folder);
    return folder;
}

void LogFreeSpace(ULONGLONG freeBytes, ULONGLONG size) {
    CUtility::Log(L"[%s]  FreeSpace:%lld FileSize:%lld", kUnPackFiles, Signed64(freeBytes),
                  Signed64(size));
}

// Whether the current directory's volume, or failing that the Program Files volume, has room for
// `size` bytes. Tells the user when neither has.
bool HasRoomFor(ULONGLONG size, ULONGLONG& freeBytes) {
    freeBytes = FreeBytesOf(nullptr, freeBytes);
    LogFreeSpace(freeBytes, size);
    if (freeBytes >= size)
        return true;

    freeBytes = FreeBytesOf(ProgramFilesFolder().c_str(), freeBytes);
    LogFreeSpace(freeBytes, size);
    if (freeBytes >= size)
        return true;

    const std::wstring message = LoadResourceString(IDS_NO_DISK_SPACE);
    CUtility::Log(L"[%s] %s", kUnPackFiles, message.c_str());
    ShowProductMessage(message, MB_OK);
    return false;
}

std::wstring DecodeName(const package::PackageEntryHeader& header) {
    const std::string ansi = package::HeaderName(header);
    if (ansi.empty())
        return std::wstring();
    const int length = ::MultiByteToWideChar(CP_THREAD_ACP, 0, ansi.data(),
                                             static_cast<int>(ansi.size()), nullptr, 0);
    std::wstring name(static_cast<size_t>(length > 0 ? length : 0), L'\0');
    ::MultiByteToWideChar(CP_THREAD_ACP, 0, ansi.data(), static_cast<int>(ansi.size()), name.data(),
                          length);
    return name;
}

enum class CopyResult { done, readFailed, writeFailed };

CopyResult CopyPayload(CFile& from, CFile& to, ULONGLONG size) {
    unsigned char block[kCopyBlock];
    while (size > 0) {
        const UINT wanted = size < kCopyBlock ? static_cast<UINT>(size) : kCopyBlock;
        const UINT read = from.Read(block, wanted);
        if (read != wanted)
            return CopyResult::readFailed;
        if (!to.Write(block, read))
            return CopyResult::writeFailed;
        size -= read;
    }
    return CopyResult::done;
}

enum class EntryResult { written, skipped, failed };

// Writes one payload to `outputPath`. An output that cannot be created is logged and its payload
// passed over; a payload that cannot be copied in full is never left behind half-written.
EntryResult WriteEntry(CFile& package, const std::wstring& outputPath, ULONGLONG size, int count) {
    CFile output;
    CFileException error;
    if (!output.Open(outputPath.c_str(),
                     CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive |
                         CFile::typeBinary,
                     &error)) {
        CUtility::FileException(error);
        package.Seek(static_cast<LONGLONG>(size), CFile::current);
        return EntryResult::skipped;
    }

    const CopyResult copied = CopyPayload(package, output, size);
    if (copied != CopyResult::done) {
        const DWORD failure = ::GetLastError();
        output.Close();
        ::DeleteFileW(outputPath.c_str());
        ::SetLastError(failure);
        CUtility::Log(L"[%s] UnPack failed count:%d File:%s (%s)", kUnPackFiles, count,
                      outputPath.c_str(),
                      copied == CopyResult::readFailed ? L"the package ends early"
                                                       : L"the file could not be written");
        return EntryResult::failed;
    }

    CUtility::Log(L"[%s] UnPack count:%d len:%d File:%s", kUnPackFiles, count,
                  Low32(output.GetLength()), output.GetFilePath().c_str());
    return EntryResult::written;
}

} // namespace

int CUnPack::UnPackFiles() noexcept {
    try {
        const ULONGLONG headerOffset = FindHeader();
        if (headerOffset == 0)
            return 0;

        CFile package;
        CFileException error;
        if (!package.Open(CUtility::GetModulePath().c_str(),
                          CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary, &error)) {
            CUtility::FileException(error);
            return 0;
        }
        const ULONGLONG length = package.GetLength();
        ULONGLONG position = package.Seek(static_cast<LONGLONG>(headerOffset), CFile::begin);

        int i = 0;
        ULONGLONG freeBytes = 0;
        for (;;) {
            std::uint8_t raw[package::kHeaderSize] = {};
            const UINT read =
                position == CFile::kSeekFailed ? 0 : package.Read(raw, package::kHeaderSize);
            if (read == 0)
                break;
            const package::PackageEntryHeader header = package::DecodeHeader(raw);
            if (i >= header.count)
                break;
            if (read < package::kHeaderSize) {
                CUtility::Log(L"[%s] Package damaged: header %d has %d of %d bytes", kUnPackFiles,
                              i + 1, static_cast<int>(read),
                              static_cast<int>(package::kHeaderSize));
                return 0;
            }
            position += package::kHeaderSize;

            const std::wstring name = DecodeName(header);
            if (!package::PayloadFits(position, header.size, length)) {
                CUtility::Log(L"[%s] (%d/%d)Package damaged: %s needs %lld bytes, %lld are left",
                              kUnPackFiles, i + 1, header.count, name.c_str(),
                              Signed64(header.size), Signed64(length - position));
                return 0;
            }
            if (!HasRoomFor(header.size, freeBytes))
                return 0;

            ++i;
            if (!package::IsPlainFileName(name)) {
                // A name with a folder, drive or ".." in it would write outside the folder.
                CUtility::Log(L"[%s] (%d/%d)Unsafe file name skipped:%s (%d)", kUnPackFiles, i,
                              header.count, name.c_str(), Low32(header.size));
                package.Seek(static_cast<LONGLONG>(header.size), CFile::current);
            } else {
                const std::wstring outputPath = GetUnpackDir() + name;
                CUtility::Log(L"[%s] (%d/%d)UnPack file name:%s (%d)", kUnPackFiles, i,
                              header.count, outputPath.c_str(), Low32(header.size));
                if (WriteEntry(package, outputPath, header.size, i) == EntryResult::failed)
                    return 0;
            }
            position += header.size;

            if (i == header.count)
                break;
        }

        CUtility::Log(L"[%s] UnPack total %d files.", kUnPackFiles, i);
        return 1;
    } catch (...) {
        return 0;
    }
}
