// Files as the packing tool reads and writes them: inputs as random-access byte sources, outputs
// that appear under their final name only when complete, and payloads copied in blocks so that
// files of any size pass through a small buffer.
#pragma once

#include "package/PackageFormat.h"
#include "package/Sha256.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

namespace packer {

// A regular file opened for reading. Throws PackError when it is missing or cannot be read.
class InputFile : public package::ByteSource {
public:
    explicit InputFile(const std::filesystem::path& path);

    std::uint64_t Length() override { return length_; }
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) override;

private:
    std::filesystem::path path_;
    std::ifstream stream_;
    std::uint64_t length_ = 0;
};

// What writing a file does to one already at its name: refuse (the tool's default) or replace.
enum class Existing { refuse, replace };

// Written under a temporary name next to the destination and renamed to it by Commit().
// Destroyed without Commit() (after any failure), it removes the temporary file, so nothing
// half-written is left behind. Replacing, the rename replaces a symbolic link at the destination
// instead of writing through it. Refusing, the constructor throws when the destination exists, and
// Commit() renames in one step that fails if anything has appeared there since.
class PendingOutput {
public:
    PendingOutput(std::filesystem::path destination, Existing existing);
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    void Write(const void* data, std::size_t count);
    void WriteZeros(std::size_t count);
    // From now on everything written is also added to `digest` (null: no longer).
    void HashFromHere(package::Sha256* digest) { digest_ = digest; }
    // Writes `count` bytes over what was written at `offset`, then goes on at the end.
    void Overwrite(std::uint64_t offset, const void* data, std::size_t count);
    void Commit();

    std::uint64_t Written() const { return written_; }

private:
    std::filesystem::path destination_;
    std::filesystem::path temporary_;
    Existing existing_;
    std::ofstream stream_;
    std::uint64_t written_ = 0;
    package::Sha256* digest_ = nullptr;
    bool committed_ = false;
};

// Copies `size` bytes from `offset` of `source`; throws PackError, naming the source as `what`,
// when it ends early.
void CopyRange(package::ByteSource& source, std::uint64_t offset, std::uint64_t size,
               PendingOutput& out, const std::string& what);

} // namespace packer
