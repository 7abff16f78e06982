// Whether and how the tool compresses a file it packs: LZMA where that saves at least 1/32 of the
// file (a few percent: an MSI or a cabinet, compressed already, stays stored), and every stream
// read back through the stub's own decoder and compared with the file before it is taken.
#pragma once

#include "packer/FileIo.h"

#include "package/PayloadHeader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace packer {

struct KeptEntry {
    package::PayloadMethod method = package::PayloadMethod::stored;
    std::vector<std::uint8_t> stream; // the LZMA stream, when compressed
    // Stored bytes after the payload header: the stream's, or the file's.
    [[nodiscard]] std::uint64_t StoredSize(std::uint64_t originalSize) const {
        return method == package::PayloadMethod::lzma ? stream.size() : originalSize;
    }
};

// How the `size` bytes of `file` are kept; `what` names it in a PackError.
KeptEntry KeepEntry(package::ByteSource& file, std::uint64_t size, const std::string& what);

} // namespace packer
