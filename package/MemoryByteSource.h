// A file held in memory: a stream the tool has made, a test's package, the fuzzer's input. Reads
// past the end return fewer bytes.
#pragma once

#include "package/PackageFormat.h"

#include <cstdint>
#include <cstring>
#include <vector>

class MemoryByteSource : public package::ByteSource {
public:
    explicit MemoryByteSource(const std::uint8_t* data, std::size_t size)
        : data_(data), size_(size) {}
    explicit MemoryByteSource(const std::vector<std::uint8_t>& bytes)
        : MemoryByteSource(bytes.data(), bytes.size()) {}

    std::uint64_t Length() override { return size_; }

    std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t count) override {
        if (offset >= size_)
            return 0;
        const std::size_t available = static_cast<std::size_t>(size_ - offset);
        const std::size_t n = count < available ? count : available;
        if (n > 0)
            std::memcpy(buffer, data_ + offset, n);
        return n;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};
