// How the tool reads an entry's payload: the file's bytes alone, or, in a package whose options say
// payloads may be compressed, a payload header (package/PayloadHeader.h) and what it describes.
// List, check and extract read payloads this way; create checks each stream it makes through it.
#pragma once

#include "package/EntryWalk.h"
#include "package/PackageFormat.h"
#include "package/PayloadHeader.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace packer {

using PayloadView = package::PayloadSpan;

// The payload of `entry` in a package with the settings record's `options`; throws PackError,
// naming the entry as `what`, for a payload header the stub does not read.
PayloadView ViewPayload(package::ByteSource& file, const package::Entry& entry,
                        std::uint32_t options, const std::string& what);

// "stored" or "lzma".
const char* MethodName(package::PayloadMethod method);

using BytesOut = std::function<void(const std::uint8_t* data, std::size_t size)>;

// Hands the file's bytes to `out` in order: stored bytes as they lie, a compressed stream decoded
// by the stub's own decoder. Throws PackError, naming the entry as `what`, when they cannot be read
// or do not decode to exactly the original size; whatever `out` throws passes through.
void ReadOriginal(package::ByteSource& file, const PayloadView& payload, const BytesOut& out,
                  const std::string& what);

} // namespace packer
