#include "packer/StubSlots.h"

#include "packer/DigestSlotFill.h"
#include "packer/EntryNames.h"
#include "packer/ExitCodeSlotFill.h"
#include "packer/OptionsSlotFill.h"
#include "packer/PackError.h"

#include "package/DigestSlot.h"
#include "package/OptionsSlot.h"

#include <string>

namespace packer {

namespace fs = std::filesystem;

namespace {

// The one slot a search found in the stub, named `what` in the refusals: two markers are no stub
// this tool knows, and a slot must lie within the file. `missing` is the refusal for none.
std::uint64_t OneSlot(const SlotSearch& slot, std::uint64_t slotSize, InputFile& stub,
                      const fs::path& path, const std::string& what, const std::string& missing) {
    if (slot.found == 0)
        throw PackError("stub " + QuotedPath(path) + " has no " + what + ", " + missing);
    if (slot.found > 1)
        throw PackError("stub " + QuotedPath(path) + " holds " + std::to_string(slot.found) + " " +
                        what + " markers; it is not a stub this tool knows");
    if (slot.offset + slotSize > stub.Length())
        throw PackError("stub " + QuotedPath(path) + ": its " + what +
                        " is cut off by the end of the file");
    return slot.offset;
}

// Exactly one, or the stub cannot vouch for its package.
std::uint64_t FindPackageDigestSlot(InputFile& stub, const fs::path& path) {
    return OneSlot(FindDigestSlot(stub, stub.Length()), package::kDigestSlotSize, stub, path,
                   "digest slot",
                   "so it could not check its package; use the stub built with this tool");
}

// A stub older than the slot packs as before, but only with the zero choice it always had.
std::optional<std::uint64_t> FindChoiceSlot(InputFile& stub, const fs::path& path,
                                            package::ExitCodeChoice choice) {
    const SlotSearch slot = FindExitCodeSlot(stub, stub.Length());
    if (slot.found == 0 && choice == package::ExitCodeChoice::zero)
        return std::nullopt;
    const std::uint64_t offset = OneSlot(
        slot, package::kExitCodeSlotSize, stub, path, "exit-code slot",
        "so it cannot pass the installer's exit code on; give --exit-code zero to pack this "
        "older stub, which always exits 0, or use the stub built with this tool");
    std::uint8_t bytes[package::kExitCodeSlotSize] = {};
    stub.ReadAt(offset, bytes, sizeof bytes); // within the file: checked above
    // The stub as built holds zero; anything else, left as it is for zero, would pass outcomes on
    // unasked.
    const std::uint32_t value = ExitCodeSlotValue(bytes);
    if (value != 0)
        throw PackError("stub " + QuotedPath(path) + ": its exit-code slot already holds " +
                        std::to_string(value) + "; pack the stub as built");
    return offset;
}

// A stub older than the slot waits for the installer's own process only, and packs with the
// default wait, which asks for nothing it cannot do.
std::optional<std::uint64_t> FindWaitSlot(InputFile& stub, const fs::path& path,
                                          std::uint32_t waitChildrenSeconds,
                                          package::StubOptions& built) {
    const SlotSearch slot = FindOptionsSlot(stub, stub.Length());
    if (slot.found == 0 && waitChildrenSeconds == package::kDefaultWaitChildrenSeconds)
        return std::nullopt;
    const std::uint64_t offset =
        OneSlot(slot, package::kOptionsSlotSize, stub, path, "options slot",
                "so it waits for the installer's own process only and cannot wait " +
                    std::to_string(waitChildrenSeconds) +
                    " s for the processes it started; leave out --wait-children to pack this "
                    "older stub, or use the stub built with this tool");
    std::uint8_t bytes[package::kOptionsSlotSize] = {};
    stub.ReadAt(offset, bytes, sizeof bytes);
    built = package::DecodeOptionsSlot(bytes);
    return offset;
}

} // namespace

StubSlots FindStubSlots(InputFile& stub, const fs::path& path, package::ExitCodeChoice exitCode,
                        std::uint32_t waitChildrenSeconds) {
    StubSlots slots;
    slots.digest = FindPackageDigestSlot(stub, path);
    slots.exitCode = FindChoiceSlot(stub, path, exitCode);
    slots.options = FindWaitSlot(stub, path, waitChildrenSeconds, slots.builtOptions);
    return slots;
}

} // namespace packer
