#include "packer/FileIo.h"

#include "packer/EntryNames.h"
#include "packer/PackError.h"

#include <cstdio>
#include <random>
#include <string>
#include <system_error>
#include <vector>

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

PendingOutput::PendingOutput(fs::path destination) : destination_(std::move(destination)) {
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
    written_ += count;
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
    fs::rename(temporary_, destination_, error);
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
