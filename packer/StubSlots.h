// Where create writes into the stub's image: its slots, each found by its marker, checked against
// what the request asks of them.
#pragma once

#include "packer/FileIo.h"

#include "package/ExitCodeSlot.h"
#include "package/OptionsSlot.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace packer {

struct StubSlots {
    std::uint64_t digest = 0;
    std::optional<std::uint64_t> exitCode;   // none: a stub older than the slot, packed with zero
    std::optional<std::uint64_t> options;    // none: a stub older than the slot
    package::StubOptions builtOptions{0, 0}; // as the stub was built, read from its slot
};

// The offsets of the stub's slots. Throws PackError when the stub has no digest slot, holds a
// slot's marker twice or a slot cut off by its end, carries a choice in its exit-code slot
// already, or lacks the exit-code or options slot that `exitCode` or `waitChildrenSeconds` (other
// than the stub's default) needs.
StubSlots FindStubSlots(InputFile& stub, const std::filesystem::path& path,
                        package::ExitCodeChoice exitCode, std::uint32_t waitChildrenSeconds);

} // namespace packer
