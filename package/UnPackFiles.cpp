#include "package/UnPack.h"

#include "package/EntryWalk.h"
#include "package/FileByteSource.h"
#include "package/HashThread.h"
#include "package/ImageSettings.h"
#include "package/LzmaDecoder.h"
#include "package/PackageFormat.h"
#include "package/PackageStream.h"
#include "package/PayloadHeader.h"
#include "package/Sha256.h"
#include "res/resource.h"
#include "util/File.h"
#include "util/LogSources.h"
#include "util/ProductMessage.h"
#include "util/SystemCalls.h"
#include "util/Utility.h"

#include <winternl.h>

#include <algorithm>
#include <atomic>
#include <string>

namespace {

using logsource::kUnPackFiles;

// The hash gets a thread of its own only for a package large enough to pay for it. Under Wine,
// creating and joining the thread costs 3 to 8 ms, while the SHA extensions hash 8 MiB in some
// 5 ms (1.6 GB/s): extraction timed in process (bench/programs/startparts.cpp), each way, was as
// fast or faster inline up to 7 MiB, 5 ms faster on the thread at 8 MiB and 100 ms at 64 MiB. The
// portable hash is four to five times slower (375 MB/s), and the thread pays four to five times
// sooner.
std::uint64_t HashThreadFrom() noexcept {
    return package::sha256_detail::ShaNiBlocks() != nullptr ? 8 * 1024 * 1024 : 2 * 1024 * 1024;
}

// Written by the extraction's worker thread, read by the main thread after it, or by whichever
// thread ends the run early (app/RunFailure.h).
std::atomic<bool> g_heldAgainstDigest{false};

int Low32(ULONGLONG value) {
    return static_cast<int>(static_cast<std::uint32_t>(value));
}
long long Signed64(ULONGLONG value) {
    return static_cast<long long>(value);
}

// Total free bytes of the volume the open `folder` lies on, as GetDiskFreeSpaceExW counts them
// (every free unit, whatever a quota leaves the caller), read through the handle the run holds
// rather than by a path Windows parses again for every entry; `previous` when the query fails.
ULONGLONG FreeBytesOf(HANDLE folder, ULONGLONG previous) {
    constexpr ULONG kFileFsFullSizeInformation = 7;
    struct {
        LARGE_INTEGER totalUnits;
        LARGE_INTEGER callerAvailableUnits;
        LARGE_INTEGER actualAvailableUnits;
        ULONG sectorsPerUnit;
        ULONG bytesPerSector;
    } size = {};
    IO_STATUS_BLOCK status = {};
    if (g_os.NtQueryVolumeInformationFile == nullptr ||
        g_os.NtQueryVolumeInformationFile(folder, &status, &size, sizeof size,
                                          kFileFsFullSizeInformation) < 0)
        return previous;
    return static_cast<ULONGLONG>(size.actualAvailableUnits.QuadPart) * size.sectorsPerUnit *
           size.bytesPerSector;
}

// Whether the volume the extraction folder lies on has room for `size` bytes. Tells the user
// when it has not.
bool HasRoomFor(HANDLE folder, ULONGLONG size, ULONGLONG& freeBytes) {
    freeBytes = FreeBytesOf(folder, freeBytes);
    CUtility::Log(L"[%s]  FreeSpace:%lld FileSize:%lld", kUnPackFiles, Signed64(freeBytes),
                  Signed64(size));
    if (freeBytes >= size)
        return true;
    const std::wstring message = LoadResourceString(IDS_NO_DISK_SPACE);
    CUtility::Log(L"[%s] %s", kUnPackFiles, message.c_str());
    ShowProductMessage(message, MB_OK, kUnPackFiles);
    return false;
}

// The name as stored, read in its field (no narrow string: the stub needs none, and the runtime's
// would weigh some 30 KB in the image): UTF-8 where the signed package's `options` say so
// (package::kOptionUtf8Names), whatever the machine's ANSI code page, text in the thread's ANSI
// code page otherwise. A UTF-8 name that is not valid UTF-8 (`strict`) decodes to nothing, which no
// rule takes; read leniently, it keeps what can be read, for the log.
std::wstring DecodeName(const package::PackageEntryHeader& header, std::uint32_t options,
                        bool strict) {
    const int bytes = static_cast<int>(package::HeaderNameLength(header));
    if (bytes == 0)
        return std::wstring();
    const char* stored = header.name.data();
    const bool utf8 = (options & package::kOptionUtf8Names) != 0;
    const UINT codePage = utf8 ? CP_UTF8 : CP_THREAD_ACP;
    const DWORD flags = utf8 && strict ? MB_ERR_INVALID_CHARS : 0;
    const int length = ::MultiByteToWideChar(codePage, flags, stored, bytes, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring name(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, flags, stored, bytes, name.data(), length);
    return name;
}

using Payload = package::PayloadSpan;

// The payload of `entry`: the file's bytes alone, or, where the package's options say so, a payload
// header and what it describes. False for a payload header no tool writes.
bool ReadPayload(package::PackageStream& from, const package::Entry& entry, bool withHeader,
                 Payload& payload) {
    std::uint8_t bytes[package::kPayloadHeaderSize] = {};
    if (withHeader && (entry.header.size < sizeof bytes ||
                       from.ReadAt(entry.payloadOffset, bytes, sizeof bytes) != sizeof bytes))
        return false;
    return package::LocatePayload(entry.payloadOffset, entry.header.size,
                                  withHeader ? bytes : nullptr, payload);
}

// The stored bytes of a payload, in the stream's own blocks.
class StoredBytes : public package::LzmaInput {
public:
    StoredBytes(package::PackageStream& from, const Payload& payload)
        : from_(from), offset_(payload.offset), left_(payload.size) {}

    package::LzmaBytes Next() noexcept override {
        if (left_ == 0 || failed_)
            return {};
        const package::Chunk chunk =
            from_.Borrow(offset_, static_cast<std::size_t>(std::min<std::uint64_t>(
                                      left_, package::PackageStream::kBlockSize)));
        failed_ = chunk.size == 0;
        offset_ += chunk.size;
        left_ -= chunk.size;
        return {chunk.data, chunk.size};
    }
    // A read came back empty before the payload's end.
    [[nodiscard]] bool Failed() const noexcept { return failed_; }

private:
    package::PackageStream& from_;
    std::uint64_t offset_;
    std::uint64_t left_;
    bool failed_ = false;
};

class FileWriter : public package::LzmaOutput {
public:
    explicit FileWriter(CFile& to) : to_(to) {}
    bool Write(const std::uint8_t* data, std::size_t size) noexcept override {
        return to_.Write(data, static_cast<UINT>(size));
    }

private:
    CFile& to_;
};

enum class CopyResult { done, readFailed, writeFailed, damaged };

// Writes the payload's file: stored bytes exactly as read, straight from the stream's buffers, or
// decoded as they are read, the decoder holding no more than its window whatever the file's size.
CopyResult CopyPayload(package::PackageStream& from, const Payload& payload, CFile& to) {
    StoredBytes input(from, payload);
    if (payload.method == package::PayloadMethod::lzma) {
        FileWriter output(to);
        switch (package::DecodeLzma(input, payload.originalSize, output)) {
        case package::LzmaResult::done:
            return CopyResult::done;
        case package::LzmaResult::writeFailed:
            return CopyResult::writeFailed;
        case package::LzmaResult::malformed:
            return input.Failed() ? CopyResult::readFailed : CopyResult::damaged;
        }
        return CopyResult::damaged;
    }
    for (package::LzmaBytes chunk = input.Next(); chunk.size > 0; chunk = input.Next())
        if (!to.Write(chunk.data, static_cast<UINT>(chunk.size)))
            return CopyResult::writeFailed;
    return input.Failed() ? CopyResult::readFailed : CopyResult::done;
}

const wchar_t* FailureReason(CopyResult result) {
    switch (result) {
    case CopyResult::readFailed:
        return L"the package ends early";
    case CopyResult::damaged:
        return L"its compressed bytes are damaged";
    default:
        return L"the file could not be written";
    }
}

enum class WriteResult { written, notCreated, noRoom, damaged, failed };

bool IsDiskFull(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

// Writes one payload as `name` into the open folder `folder`, created new through its handle,
// into `output`, which stays open; `outputPath` names it in the log. A payload that cannot be
// written in full is never left behind half-written.
WriteResult WriteEntry(package::PackageStream& package, const package::Entry& entry,
                       const Payload& payload, HANDLE folder, const std::wstring& name,
                       const std::wstring& outputPath, CFile& output) {
    CFileException error;
    if (!output.OpenIn(folder, name, outputPath,
                       CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive, &error)) {
        const DWORD failure = ::GetLastError();
        CUtility::FileException(error);
        return IsDiskFull(failure) ? WriteResult::noRoom : WriteResult::notCreated;
    }

    if (payload.originalSize >= package::PackageStream::kBlockSize)
        output.Reserve(payload.originalSize); // a small file is written in one go anyway
    const CopyResult copied = CopyPayload(package, payload, output);
    if (copied != CopyResult::done) {
        const DWORD failure = ::GetLastError();
        output.CloseAndDelete();
        ::SetLastError(failure);
        CUtility::Log(L"[%s] UnPack failed count:%d File:%s (%s)", kUnPackFiles, entry.index,
                      outputPath.c_str(), FailureReason(copied));
        if (copied == CopyResult::damaged)
            return WriteResult::damaged;
        return copied == CopyResult::writeFailed && IsDiskFull(failure) ? WriteResult::noRoom
                                                                        : WriteResult::failed;
    }

    CUtility::Log(L"[%s] UnPack count:%d len:%d File:%s", kUnPackFiles, entry.index,
                  Low32(output.GetLength()), output.GetFilePath().c_str());
    return WriteResult::written;
}

// Whether `path` names, or lies below, a file this run has extracted, or names a folder it made:
// a second entry of that name (as Windows compares names, without case).
bool MadeAlready(const ExtractionFolder& folder, const std::wstring& path) {
    if (folder.HasMade(path))
        return true;
    for (size_t separator = path.find(L'\\'); separator != std::wstring::npos;
         separator = path.find(L'\\', separator + 1))
        if (folder.HasExtracted(path.substr(0, separator)))
            return true;
    return false;
}

// What is done with each entry the walk hands over: its name checked, room for it, its folders
// and its file written into the extraction folder and held there. The first entry that cannot be
// written whole ends the extraction, and nothing of it is started.
class EntryWriter {
public:
    // `options`: the signed package's (how its names and payloads are kept).
    EntryWriter(CUnPack& unpack, package::PackageStream& stream, std::uint32_t options)
        : unpack_(unpack), stream_(stream), options_(options) {}

    // False stops the walk.
    bool operator()(const package::Entry& entry) {
        const std::wstring name = DecodeName(entry.header, options_, true);
        if (!package::IsSafeEntryPath(name)) {
            // A name with a drive, "..", an empty component or a stream would write outside the
            // folder or not the file it names; one that is no UTF-8 would be read differently.
            CUtility::Log(L"[%s] (%d/%d)Package refused: %s is no name the extraction folder can "
                          L"hold; nothing of it is kept",
                          kUnPackFiles, entry.index, entry.header.count,
                          DecodeName(entry.header, options_, false).c_str());
            return End(ERROR_INSTALL_PACKAGE_INVALID);
        }
        Payload payload;
        if (!ReadPayload(stream_, entry, (options_ & package::kOptionCompressedPayloads) != 0,
                         payload)) {
            CUtility::Log(L"[%s] (%d/%d)Package refused: %s is kept in a way the stub does not "
                          L"read; nothing of it is kept",
                          kUnPackFiles, entry.index, entry.header.count, name.c_str());
            return End(ERROR_INSTALL_PACKAGE_INVALID);
        }
        const std::wstring folderPath = unpack_.GetUnpackDir();
        ExtractionFolder& folder = unpack_.Folder();
        if (!folder.IsOwn())
            return End(ERROR_INSTALL_FAILURE); // nothing goes into a folder not this run's
        if (!HasRoomFor(folder.Handle(), payload.originalSize, freeBytes_))
            return End(ERROR_DISK_FULL);
        if (MadeAlready(folder, name)) {
            CUtility::Log(L"[%s] (%d/%d)Package refused: %s is in it twice (names are compared "
                          L"without case); nothing of it is kept",
                          kUnPackFiles, entry.index, entry.header.count, name.c_str());
            return End(ERROR_INSTALL_PACKAGE_INVALID);
        }
        const std::wstring outputPath = folderPath + name;
        CUtility::Log(L"[%s] (%d/%d)UnPack file name:%s (%d)", kUnPackFiles, entry.index,
                      entry.header.count, outputPath.c_str(), Low32(payload.originalSize));

        const ExtractionFolder::Place place = folder.PlaceFor(name);
        if (place.folder == nullptr) {
            const DWORD failure = ::GetLastError();
            CUtility::Log(L"[%s] UnPack failed count:%d File:%s (a folder on its way could not be "
                          L"created)",
                          kUnPackFiles, entry.index, outputPath.c_str());
            if (failure == ERROR_ALREADY_EXISTS)
                return Tampered(name); // only this run writes into its own folder
            return End(IsDiskFull(failure) ? ERROR_DISK_FULL : ERROR_INSTALL_FAILURE);
        }
        CFile output;
        switch (WriteEntry(stream_, entry, payload, place.folder, place.name, outputPath, output)) {
        case WriteResult::written:
            return folder.Keep(output, place, name) ? true : Tampered(name);
        case WriteResult::notCreated:
            return ExtractionFolder::Holds(place.folder, place.name) ? Tampered(name)
                                                                     : End(ERROR_INSTALL_FAILURE);
        case WriteResult::noRoom:
            return End(ERROR_DISK_FULL);
        case WriteResult::damaged:
            CUtility::Log(L"[%s] (%d/%d)Package refused: %s does not decode to the %lld bytes it "
                          L"holds; nothing of it is kept",
                          kUnPackFiles, entry.index, entry.header.count, name.c_str(),
                          Signed64(payload.originalSize));
            return End(ERROR_INSTALL_PACKAGE_INVALID);
        case WriteResult::failed:
            break;
        }
        return End(ERROR_INSTALL_FAILURE);
    }

    // How the writing ended, when it did before the walk's end; complete otherwise.
    [[nodiscard]] DWORD Ended() const noexcept { return ended_; }

private:
    bool End(DWORD why) {
        ended_ = why;
        return false;
    }

    bool Tampered(const std::wstring& name) {
        CUtility::Log(L"[%s] Package refused: %s in the extraction folder was changed or put there "
                      L"by another program; nothing of it is kept",
                      kUnPackFiles, name.c_str());
        return End(ERROR_INSTALL_PACKAGE_INVALID);
    }

    CUnPack& unpack_;
    package::PackageStream& stream_;
    std::uint32_t options_;
    DWORD ended_ = ERROR_SUCCESS;
    ULONGLONG freeBytes_ = 0;
};

// Says why a package is not the one the image vouches for. Its files go when the run disposes of
// the folder.
void LogRefusal(package::PackageVerdict verdict, std::uint64_t length,
                const package::PackageDigest& vouched) {
    switch (verdict) {
    case package::PackageVerdict::lengthDiffers:
        CUtility::Log(L"[%s] Package refused: it is %lld bytes, the digest signed into the stub is "
                      L"for %lld; nothing of it is kept",
                      kUnPackFiles, Signed64(length), Signed64(vouched.length));
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
int ReportWalkEnd(const package::WalkResult& walk, ULONGLONG length, std::uint32_t options) {
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
                      DecodeName(walk.last.header, options, false).c_str(),
                      Signed64(walk.last.header.size), Signed64(length - walk.last.payloadOffset));
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

bool PackageHeldAgainstDigest() noexcept {
    return g_heldAgainstDigest;
}

int CUnPack::UnPackFiles() {
    CFile file;
    package::PackageLocation location;
    const ULONGLONG headerOffset = OpenPackage(file, location);
    if (headerOffset == 0)
        return 0;
    return Extract(file, location, headerOffset);
}

int CUnPack::Extract(CFile& file, const package::PackageLocation& location,
                     ULONGLONG headerOffset) {
    // Everything from the first header to the end of the trailer is read once, in order, and
    // held against the digest the packing tool put into the image that was signed.
    const package::StubSettings settings = package::ImageSettings();
    if (!settings.readable) {
        CUtility::Log(L"[%s] Package refused: the stub cannot read its settings (version %u, %u "
                      L"bytes); nothing of it is kept",
                      kUnPackFiles, static_cast<unsigned>(settings.version),
                      static_cast<unsigned>(settings.size));
        return EndExtraction(file, ERROR_INSTALL_PACKAGE_INVALID);
    }
    const package::PackageDigest& vouched = settings.digest;
    if (!vouched.Filled())
        CUtility::Log(L"[%s] The package carries no digest: it is extracted unverified",
                      kUnPackFiles);
    FileByteSource source(file);
    const std::uint64_t certificateTable =
        location.certificateSize > 0 ? static_cast<std::uint64_t>(location.certificateSize) : 0;
    const std::uint64_t packageEnd = source.Length() - std::min(source.Length(), certificateTable);
    HashThread hasher(vouched.Filled() && vouched.length >= HashThreadFrom());
    package::PackageStream stream(source, headerOffset, packageEnd, vouched, hasher);

    // The walk decides what is an entry and whether it lies within the file; the writer, what is
    // done with each entry.
    EntryWriter writer(*this, stream, settings.options);
    const package::WalkResult walk = package::WalkEntries(stream, headerOffset, writer);
    if (writer.Ended() != ERROR_SUCCESS) {
        if (writer.Ended() != ERROR_INSTALL_PACKAGE_INVALID)
            CUtility::Log(L"[%s] Extraction incomplete: nothing of it is kept or started",
                          kUnPackFiles);
        return EndExtraction(file, writer.Ended());
    }

    const package::PackageVerdict verdict = stream.Finish();
    g_heldAgainstDigest = verdict == package::PackageVerdict::matches ||
                          verdict == package::PackageVerdict::lengthDiffers ||
                          verdict == package::PackageVerdict::digestDiffers;
    if (verdict == package::PackageVerdict::matches) {
        CUtility::Log(L"[%s] Package digest verified: %lld bytes", kUnPackFiles,
                      Signed64(vouched.length));
    } else if (verdict != package::PackageVerdict::unverified) {
        LogRefusal(verdict, packageEnd > headerOffset ? packageEnd - headerOffset : 0, vouched);
        return EndExtraction(file, ERROR_INSTALL_PACKAGE_INVALID);
    }
    if (ReportWalkEnd(walk, stream.Length(), settings.options) ==
        0) // a damaged package: some entry is missing
        return EndExtraction(file, ERROR_INSTALL_PACKAGE_INVALID);
    result_ = ERROR_SUCCESS;
    return 1;
}

int CUnPack::EndExtraction(CFile& file, DWORD why) noexcept {
    result_ = why;
    file.Close();
    return 0;
}
