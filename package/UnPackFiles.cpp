#include "package/UnPack.h"

#include "package/EntryWalk.h"
#include "package/FileByteSource.h"
#include "package/HashThread.h"
#include "package/ImageDigest.h"
#include "package/PackageFormat.h"
#include "package/PackageStream.h"
#include "res/resource.h"
#include "util/File.h"
#include "util/LogSources.h"
#include "util/ProductMessage.h"
#include "util/SystemCalls.h"
#include "util/Utility.h"

#include <algorithm>
#include <string>

namespace {

using logsource::kUnPackFiles;

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
// `size` bytes; the volumes asked are kept for compatibility (docs/COMPATIBILITY.md). Tells the
// user when neither has.
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
    ShowProductMessage(message, MB_OK, kUnPackFiles);
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

// Reads what is there and writes exactly what was read, block by block, straight from the
// stream's buffers.
CopyResult CopyPayload(package::PackageStream& from, const package::Entry& entry, CFile& to) {
    std::uint64_t offset = entry.payloadOffset;
    std::uint64_t left = entry.header.size;
    while (left > 0) {
        const package::Chunk chunk =
            from.Borrow(offset, static_cast<std::size_t>(std::min<std::uint64_t>(
                                    left, package::PackageStream::kBlockSize)));
        if (chunk.size == 0)
            return CopyResult::readFailed;
        if (!to.Write(chunk.data, static_cast<UINT>(chunk.size)))
            return CopyResult::writeFailed;
        offset += chunk.size;
        left -= chunk.size;
    }
    return CopyResult::done;
}

enum class WriteResult { written, notCreated, failed };

// Writes one payload as `name` into the folder, created new through the folder's handle, into
// `output`, which stays open; `outputPath` names it in the log. An output that cannot be created
// is logged and its payload passed over; a payload that cannot be copied in full is never left
// behind half-written, and the extraction ends there.
WriteResult WriteEntry(package::PackageStream& package, const package::Entry& entry, HANDLE folder,
                       const std::wstring& name, const std::wstring& outputPath, CFile& output) {
    CFileException error;
    if (!output.OpenIn(folder, name, outputPath,
                       CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive, &error)) {
        CUtility::FileException(error);
        return WriteResult::notCreated;
    }

    if (entry.header.size >= package::PackageStream::kBlockSize)
        output.Reserve(entry.header.size); // a small file is written in one go anyway
    const CopyResult copied = CopyPayload(package, entry, output);
    if (copied != CopyResult::done) {
        const DWORD failure = ::GetLastError();
        output.CloseAndDelete();
        ::SetLastError(failure);
        CUtility::Log(L"[%s] UnPack failed count:%d File:%s (%s)", kUnPackFiles, entry.index,
                      outputPath.c_str(),
                      copied == CopyResult::readFailed ? L"the package ends early"
                                                       : L"the file could not be written");
        return WriteResult::failed;
    }

    CUtility::Log(L"[%s] UnPack count:%d len:%d File:%s", kUnPackFiles, entry.index,
                  Low32(output.GetLength()), output.GetFilePath().c_str());
    return WriteResult::written;
}

// What is done with each entry the walk hands over: room for it, its name, its file written into
// the folder and held there. Once the extraction has stopped (no room, a file that could not be
// written), a package being verified is still read to its end, unwritten.
class EntryWriter {
public:
    EntryWriter(CUnPack& unpack, package::PackageStream& stream)
        : unpack_(unpack), stream_(stream) {}

    // False stops the walk.
    bool operator()(const package::Entry& entry) {
        if (!writing_)
            return true;
        if (!HasRoomFor(entry.header.size, freeBytes_))
            return Stop();
        const std::wstring name = DecodeName(entry.header);
        if (!package::IsPlainFileName(name)) {
            // A name with a folder, drive or ".." in it would write outside the folder.
            CUtility::Log(L"[%s] (%d/%d)Unsafe file name skipped:%s (%d)", kUnPackFiles,
                          entry.index, entry.header.count, name.c_str(), Low32(entry.header.size));
            return true;
        }
        const std::wstring outputPath = unpack_.GetUnpackDir() + name;
        ExtractionFolder& folder = unpack_.Folder();
        if (!folder.IsOwn())
            return Stop(); // nothing goes into a folder this run did not make its own
        CUtility::Log(L"[%s] (%d/%d)UnPack file name:%s (%d)", kUnPackFiles, entry.index,
                      entry.header.count, outputPath.c_str(), Low32(entry.header.size));
        // A later entry of the same name takes the place of the earlier one.
        if (!folder.Discard(name))
            return Tampered(name);

        CFile output;
        switch (WriteEntry(stream_, entry, folder.Handle(), name, outputPath, output)) {
        case WriteResult::written:
            return folder.Keep(output, name) ? true : Tampered(name);
        case WriteResult::notCreated:
            // Only this run writes into its own folder: a file already there is another program's.
            return folder.Holds(name) ? Tampered(name) : true;
        case WriteResult::failed:
            break;
        }
        return Stop();
    }

    [[nodiscard]] bool Writing() const noexcept { return writing_; }
    [[nodiscard]] bool FoundTampering() const noexcept { return tampered_; }

private:
    bool Stop() {
        writing_ = false;
        return stream_.Verifying();
    }

    bool Tampered(const std::wstring& name) {
        CUtility::Log(L"[%s] Package refused: %s in the extraction folder was changed or put there "
                      L"by another program; nothing of it is kept",
                      kUnPackFiles, name.c_str());
        tampered_ = true;
        writing_ = false;
        return false;
    }

    CUnPack& unpack_;
    package::PackageStream& stream_;
    bool writing_ = true;
    bool tampered_ = false;
    ULONGLONG freeBytes_ = 0;
};

// Says why a package is not the one the image vouches for. Its files are deleted after this.
void LogRefusal(package::PackageVerdict verdict, std::uint64_t length,
                const package::DigestSlot& slot) {
    switch (verdict) {
    case package::PackageVerdict::lengthDiffers:
        CUtility::Log(L"[%s] Package refused: it is %lld bytes, the digest signed into the stub is "
                      L"for %lld; nothing of it is kept",
                      kUnPackFiles, Signed64(length), Signed64(slot.length));
        return;
    case package::PackageVerdict::digestDiffers:
        CUtility::Log(L"[%s] Package refused: its SHA-256 differs from the digest signed into the "
                      L"stub; nothing of it is kept",
                      kUnPackFiles);
        return;
    default:
        CUtility::Log(L"[%s] Package refused: it could not be read to its end; nothing of it is "
                      L"kept",
                      kUnPackFiles);
        return;
    }
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
    CFile file;
    try {
        package::PackageLocation location;
        const ULONGLONG headerOffset = OpenPackage(file, location);
        if (headerOffset == 0)
            return 0;
        return Extract(file, location, headerOffset);
    } catch (...) {
        // Out of memory midway: what was written was never held against the digest.
        CUtility::Log(L"[%s] Package refused: the extraction failed midway; nothing of it is kept",
                      kUnPackFiles);
        return RefusePackage(file);
    }
}

int CUnPack::Extract(CFile& file, const package::PackageLocation& location,
                     ULONGLONG headerOffset) {
    // Everything from the first header to the end of the trailer is read once, in order, and
    // held against the digest the packing tool put into the image that was signed.
    const package::DigestSlot slot = package::ImageDigestSlot();
    if (!slot.Filled())
        CUtility::Log(L"[%s] The package carries no digest: it is extracted unverified",
                      kUnPackFiles);
    FileByteSource source(file);
    const std::uint64_t certificateTable =
        location.certificateSize > 0 ? static_cast<std::uint64_t>(location.certificateSize) : 0;
    const std::uint64_t packageEnd = source.Length() - std::min(source.Length(), certificateTable);
    HashThread hasher(slot.Filled());
    package::PackageStream stream(source, headerOffset, packageEnd, slot, hasher);

    // The walk decides what is an entry and whether it lies within the file; the writer, what is
    // done with each entry.
    EntryWriter writer(*this, stream);
    const package::WalkResult walk = package::WalkEntries(stream, headerOffset, writer);

    const package::PackageVerdict verdict = stream.Finish();
    if (verdict == package::PackageVerdict::matches) {
        CUtility::Log(L"[%s] Package digest verified: %lld bytes", kUnPackFiles,
                      Signed64(slot.length));
    } else if (verdict != package::PackageVerdict::unverified) {
        LogRefusal(verdict, packageEnd > headerOffset ? packageEnd - headerOffset : 0, slot);
        return RefusePackage(file);
    }
    if (writer.FoundTampering())
        return RefusePackage(file);
    mayLaunch_ = true;
    if (!writer.Writing())
        return 0;
    return ReportWalkEnd(walk, stream.Length());
}

int CUnPack::RefusePackage(CFile& file) noexcept {
    packageRefused_ = true;
    mayLaunch_ = false;
    file.Close();
    try {
        (void)Cleanup();
    } catch (...) {
        folder_.LetGo(); // the next run removes it
    }
    return 0;
}
