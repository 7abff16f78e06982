// The package reader's view of the stub's own file, open as a CFile.
#pragma once

#include "util/File.h"
#include "package/PackageFormat.h"

class FileByteSource : public package::ByteSource {
public:
    explicit FileByteSource(CFile& file) : file_(file), length_(file.GetLength()) {}

    std::uint64_t Length() override { return length_; }

    // Fewer bytes than asked for at the end of the file; 0 when the seek or the read fails.
    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) override {
        if (file_.Seek(static_cast<LONGLONG>(offset), CFile::begin) == CFile::kSeekFailed)
            return 0;
        return file_.Read(buffer, static_cast<UINT>(count));
    }

private:
    CFile& file_;
    std::uint64_t length_; // taken once: the file is read as it was when opened
};
