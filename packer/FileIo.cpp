#include "packer/FileIo.h"

#include "packer/EntryNames.h"
#include "packer/PackError.h"

#include <cstdio>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace packer {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kCopyBlock = 64 * 1024;

fs::path TemporaryNameFor(const fs::path& destination) {
    std::random_device random;
    const unsigned long long tag = (static_cast<unsigned long long>(random()) << 32) ^
                                   static_cast<unsigned long long>(random());
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", tag);
    return destination.parent_path() /
           fs::u8path("." + destination.filename().u8string() + "." + hex + ".partial");
}

std::string AlreadyExists(const fs::path& path) {
    return QuotedPath(path) + " already exists; give --force to replace it";
}

// Renames in one step that fails when something has the name `to`, so that nothing appearing
// there after the check before writing is ever replaced. Sets `exists` for that failure.
std::error_code RenameWithoutReplacing(const fs::path& from, const fs::path& to, bool& exists) {
#ifdef _WIN32
    if (::MoveFileExW(from.c_str(), to.c_str(), 0))
        return {};
    const DWORD code = ::GetLastError();
    exists = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
    return std::error_code(static_cast<int>(code), std::system_category());
#else
    int result = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
    if (result != 0 && (errno == EINVAL || errno == ENOSYS)) {
        // A file system without the flag: a hard link fails just as atomically on an existing
        // name, and the temporary name is then dropped.
        result = ::link(from.c_str(), to.c_str());
        if (result == 0)
            ::unlink(from.c_str());
    }
    if (result == 0)
        return {};
    exists = errno == EEXIST;
    return std::error_code(errno, std::generic_category());
#endif
}

// Anything at `path`, a dangling link included, is refused.
void RequireAbsent(const fs::path& path) {
    std::error_code error;
    if (fs::exists(fs::symlink_status(path, error)))
        throw PackError(AlreadyExists(path));
}

} // namespace

InputFile::InputFile(const fs::path& path) : path_(path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (!fs::exists(status))
        throw PackError(QuotedPath(path) + " does not exist");
    if (!fs::is_regular_file(status))
        throw PackError(QuotedPath(path) + " is not a regular file");
    stream_.open(path, std::ios::binary);
    if (!stream_)
        throw PackError(QuotedPath(path) + " cannot be opened for reading");
    stream_.seekg(0, std::ios::end);
    const std::streamoff end = stream_.tellg();
    if (!stream_ || end < 0)
        throw PackError(QuotedPath(path) + " cannot be read");
    length_ = static_cast<std::uint64_t>(end);
}

std::size_t InputFile::ReadAt(std::uint64_t offset, void* buffer, std::size_t count) {
    if (offset >= length_ || count == 0)
        return 0;
    stream_.clear();
    stream_.seekg(static_cast<std::streamoff>(offset));
    stream_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(count));
    const std::streamsize got = stream_.gcount();
    if (stream_.bad())
        throw PackError("reading " + QuotedPath(path_) + " failed");
    return static_cast<std::size_t>(got);
}

PendingOutput::PendingOutput(fs::path destination, Existing existing)
    : destination_(std::move(destination)), existing_(existing) {
    if (existing_ == Existing::refuse)
        RequireAbsent(destination_);
    for (int attempt = 0; attempt < 8 && temporary_.empty(); ++attempt) {
        const fs::path candidate = TemporaryNameFor(destination_);
        std::error_code error;
        if (!fs::exists(candidate, error) && !error)
            temporary_ = candidate;
    }
    if (!temporary_.empty())
        stream_.open(temporary_, std::ios::binary | std::ios::trunc);
    if (temporary_.empty() || !stream_)
        throw PackError("cannot create a file in the folder of " + QuotedPath(destination_));
}

PendingOutput::~PendingOutput() {
    if (committed_)
        return;
    stream_.close();
    std::error_code ignored;
    fs::remove(temporary_, ignored);
}

void PendingOutput::Write(const void* data, std::size_t count) {
    stream_.write(static_cast<const char*>(data), static_cast<std::streamsize>(count));
    if (!stream_)
        throw PackError("writing " + QuotedPath(destination_) + " failed (is the disk full?)");
    if (digest_ != nullptr)
        digest_->Update(data, count);
    written_ += count;
}

void PendingOutput::Overwrite(std::uint64_t offset, const void* data, std::size_t count) {
    if (offset > written_ || count > written_ - offset)
        throw PackError("overwriting past the end of " + QuotedPath(destination_));
    stream_.seekp(static_cast<std::streamoff>(offset));
    stream_.write(static_cast<const char*>(data), static_cast<std::streamsize>(count));
    stream_.seekp(0, std::ios::end);
    if (!stream_)
        throw PackError("writing " + QuotedPath(destination_) + " failed");
}

void PendingOutput::WriteZeros(std::size_t count) {
    const std::vector<char> zeros(count, 0);
    Write(zeros.data(), zeros.size());
}

void PendingOutput::Commit() {
    stream_.close();
    if (!stream_)
        throw PackError("writing " + QuotedPath(destination_) + " failed (is the disk full?)");
    std::error_code error;
    bool exists = false;
    if (existing_ == Existing::replace)
        fs::rename(temporary_, destination_, error);
    else
        error = RenameWithoutReplacing(temporary_, destination_, exists);
    if (exists)
        throw PackError(AlreadyExists(destination_));
    if (error)
        throw PackError("cannot write " + QuotedPath(destination_) + ": " + error.message());
    committed_ = true;
}

void CopyRange(package::ByteSource& source, std::uint64_t offset, std::uint64_t size,
               PendingOutput& out, const std::string& what) {
    std::vector<char> buffer(kCopyBlock);
    while (size > 0) {
        const std::size_t want = size < kCopyBlock ? static_cast<std::size_t>(size) : kCopyBlock;
        const std::size_t got = source.ReadAt(offset, buffer.data(), want);
        if (got == 0)
            throw PackError(what + " ended " + std::to_string(size) + " bytes early");
        out.Write(buffer.data(), got);
        offset += got;
        size -= got;
    }
}

} // namespace packer
