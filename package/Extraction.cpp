#include "package/UnPack.h"

#include "framework/File.h"
#include "package/EntryWalk.h"
#include "package/FileByteSource.h"
#include "package/PackageFormat.h"
#include "res/resource.h"
#include "util/ProductMessage.h"
#include "util/SystemCalls.h"
#include "util/Utility.h"

#include <string>
#include <vector>

namespace {

constexpr wchar_t kUnPackFiles[] = L"CUnPack::UnPackFiles";

// Payloads are streamed through one buffer, allocated once per extraction: a package of any size
// needs no more memory, and a large payload takes few reads and writes.
constexpr UINT kCopyBlock = 256 * 1024;
using CopyBuffer = std::vector<unsigned char>;

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

// Reads what is there and writes exactly what was read, block by block.
CopyResult CopyPayload(CFile& from, CFile& to, ULONGLONG size, CopyBuffer& block) {
    while (size > 0) {
        const UINT wanted =
            size < block.size() ? static_cast<UINT>(size) : static_cast<UINT>(block.size());
        const UINT read = from.Read(block.data(), wanted);
        if (read != wanted)
            return CopyResult::readFailed;
        if (!to.Write(block.data(), read))
            return CopyResult::writeFailed;
        size -= read;
    }
    return CopyResult::done;
}

// Writes one payload to `outputPath`. An output that cannot be created is logged and its payload
// passed over; a payload that cannot be copied in full is never left behind half-written. False
// when the package could not be read or the file not written: the extraction ends there.
bool WriteEntry(CFile& package, const package::Entry& entry, const std::wstring& outputPath,
                CopyBuffer& block) {
    CFile output;
    CFileException error;
    if (!output.Open(outputPath.c_str(),
                     CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive |
                         CFile::typeBinary,
                     &error)) {
        CUtility::FileException(error);
        return true;
    }

    CopyResult copied = CopyResult::readFailed;
    if (package.Seek(static_cast<LONGLONG>(entry.payloadOffset), CFile::begin) !=
        CFile::kSeekFailed)
        copied = CopyPayload(package, output, entry.header.size, block);
    if (copied != CopyResult::done) {
        const DWORD failure = ::GetLastError();
        output.Close();
        ::DeleteFileW(outputPath.c_str());
        ::SetLastError(failure);
        CUtility::Log(L"[%s] UnPack failed count:%d File:%s (%s)", kUnPackFiles, entry.index,
                      outputPath.c_str(),
                      copied == CopyResult::readFailed ? L"the package ends early"
                                                       : L"the file could not be written");
        return false;
    }

    CUtility::Log(L"[%s] UnPack count:%d len:%d File:%s", kUnPackFiles, entry.index,
                  Low32(output.GetLength()), output.GetFilePath().c_str());
    return true;
}

// Logs why a walk that did not reach its end stopped; 1 for a walk that did.
int ReportWalkEnd(const package::WalkResult& walk, ULONGLONG length) {
    const int next = walk.entries + 1;
    switch (walk.end) {
    case package::WalkEnd::complete:
    case package::WalkEnd::endOfData: // nothing more to read is the end of the package
        CUtility::Log(L"[%s] UnPack total %d files.", kUnPackFiles, walk.entries);
        return 1;
    case package::WalkEnd::shortHeader:
        CUtility::Log(L"[%s] Package damaged: header %d has %d of %d bytes", kUnPackFiles, next,
                      static_cast<int>(walk.last.headerBytes),
                      static_cast<int>(package::kHeaderSize));
        return 0;
    case package::WalkEnd::payloadPastEnd:
        CUtility::Log(L"[%s] (%d/%d)Package damaged: %s needs %lld bytes, %lld are left",
                      kUnPackFiles, next, walk.last.header.count,
                      DecodeName(walk.last.header).c_str(), Signed64(walk.last.header.size),
                      Signed64(length - walk.last.payloadOffset));
        return 0;
    case package::WalkEnd::readFailed:
        CUtility::Log(L"[%s] Package unreadable: header %d could not be read", kUnPackFiles, next);
        return 0;
    case package::WalkEnd::noPackage:
    case package::WalkEnd::stopped: // the entry that stopped it said why
        return 0;
    }
    return 0;
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
        CopyBuffer block(kCopyBlock);
        FileByteSource source(package);

        // The walk decides what is an entry and whether it lies within the file; what is done
        // with each entry is decided here.
        ULONGLONG freeBytes = 0;
        const package::WalkResult walk =
            package::WalkEntries(source, headerOffset, [&](const package::Entry& entry) {
                if (!HasRoomFor(entry.header.size, freeBytes))
                    return false;
                const std::wstring name = DecodeName(entry.header);
                if (!package::IsPlainFileName(name)) {
                    // A name with a folder, drive or ".." in it would write outside the folder.
                    CUtility::Log(L"[%s] (%d/%d)Unsafe file name skipped:%s (%d)", kUnPackFiles,
                                  entry.index, entry.header.count, name.c_str(),
                                  Low32(entry.header.size));
                    return true;
                }
                const std::wstring outputPath = GetUnpackDir() + name;
                if (!OwnsFolder())
                    return false; // nothing goes into a folder this run did not make its own
                CUtility::Log(L"[%s] (%d/%d)UnPack file name:%s (%d)", kUnPackFiles, entry.index,
                              entry.header.count, outputPath.c_str(), Low32(entry.header.size));
                return WriteEntry(package, entry, outputPath, block);
            });
        return ReportWalkEnd(walk, source.Length());
    } catch (...) {
        return 0;
    }
}
