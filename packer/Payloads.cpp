#include "packer/Payloads.h"

#include "packer/PackError.h"

#include "package/LzmaDecoder.h"
#include "package/StubSettings.h"

#include <algorithm>
#include <exception>
#include <vector>

namespace packer {

namespace {

constexpr std::size_t kReadBlock = 1 << 20;

// The stored bytes, read in blocks; a short read ends them early.
class RangeInput : public package::LzmaInput {
public:
    RangeInput(package::ByteSource& file, const PayloadView& payload)
        : file_(file), offset_(payload.offset), left_(payload.size),
          buffer_(static_cast<std::size_t>(std::min<std::uint64_t>(payload.size, kReadBlock))) {}

    package::LzmaBytes Next() noexcept override {
        if (left_ == 0 || failed_)
            return {};
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(left_, kReadBlock));
        const std::size_t got = file_.ReadAt(offset_, buffer_.data(), want);
        failed_ = got == 0;
        offset_ += got;
        left_ -= got;
        return {buffer_.data(), got};
    }
    [[nodiscard]] bool Failed() const noexcept { return failed_; }
    [[nodiscard]] std::uint64_t Left() const noexcept { return left_; }

private:
    package::ByteSource& file_;
    std::uint64_t offset_;
    std::uint64_t left_;
    std::vector<std::uint8_t> buffer_;
    bool failed_ = false;
};

// Passes decoded bytes on; what the receiver throws is kept and thrown again after decoding.
class Forward : public package::LzmaOutput {
public:
    explicit Forward(const BytesOut& out) : out_(out) {}
    bool Write(const std::uint8_t* data, std::size_t size) noexcept override {
        try {
            out_(data, size);
            return true;
        } catch (...) {
            thrown_ = std::current_exception();
            return false;
        }
    }
    void Rethrow() const {
        if (thrown_)
            std::rethrow_exception(thrown_);
    }

private:
    const BytesOut& out_;
    std::exception_ptr thrown_;
};

} // namespace

PayloadView ViewPayload(package::ByteSource& file, const package::Entry& entry,
                        std::uint32_t options, const std::string& what) {
    PayloadView view;
    if ((options & package::kOptionCompressedPayloads) == 0) {
        package::LocatePayload(entry.payloadOffset, entry.header.size, nullptr, view);
        return view;
    }
    std::uint8_t bytes[package::kPayloadHeaderSize] = {};
    if (entry.header.size < sizeof bytes)
        throw PackError(what + ": its " + std::to_string(entry.header.size) +
                        " bytes hold no payload header, which every payload of a package with "
                        "compressed payloads opens with");
    if (file.ReadAt(entry.payloadOffset, bytes, sizeof bytes) != sizeof bytes)
        throw PackError(what + ": its payload header could not be read");
    if (!package::LocatePayload(entry.payloadOffset, entry.header.size, bytes, view))
        throw PackError(what + ": its payload header (method " + std::to_string(bytes[0]) +
                        ") is none the stub reads");
    return view;
}

const char* MethodName(package::PayloadMethod method) {
    return method == package::PayloadMethod::lzma ? "lzma" : "stored";
}

void ReadOriginal(package::ByteSource& file, const PayloadView& payload, const BytesOut& out,
                  const std::string& what) {
    RangeInput input(file, payload);
    if (payload.method == package::PayloadMethod::stored) {
        for (package::LzmaBytes bytes = input.Next(); bytes.size > 0; bytes = input.Next())
            out(bytes.data, bytes.size);
        if (input.Failed())
            throw PackError(what + " ended " + std::to_string(input.Left()) + " bytes early");
        return;
    }
    Forward forward(out);
    const package::LzmaResult result = package::DecodeLzma(input, payload.originalSize, forward);
    forward.Rethrow();
    if (input.Failed())
        throw PackError(what + " ended " + std::to_string(input.Left()) + " bytes early");
    if (result != package::LzmaResult::done)
        throw PackError(what + ": its " + std::to_string(payload.size) +
                        " compressed bytes do not decode to the " +
                        std::to_string(payload.originalSize) + " bytes it holds");
}

} // namespace packer
