// Building a stub with its package: the stub's image, padded with zero bytes so that image plus
// package ends on an 8-byte boundary (signing then appends its certificate table right after the
// trailer, where the stub looks for it), one header and payload per file, the end marker and the
// trailer. The stub's settings record gets the length and SHA-256 of the package, from the first
// header to the end of the trailer, the exit-code choice, the wait asked for and the package's
// options; the rest of the image stays as built. A file that compression shrinks is kept
// compressed (packer/Compression.h), and then every payload opens with its payload header; a
// package of stored files alone is laid out as ever. Every refusal, an existing output's included,
// happens before the output is written.
#pragma once

#include "packer/FileIo.h"

#include "package/Sha256.h"
#include "package/StubSettings.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace packer {

struct CreateRequest {
    std::filesystem::path stub;
    std::filesystem::path output;
    // Files and folders, packed in this order: a file under its base name, a folder with
    // everything below it under the folder's own name (PackSources.h).
    std::vector<std::filesystem::path> files;
    Existing existingOutput = Existing::refuse;
    package::ExitCodeChoice exitCode = package::ExitCodeChoice::installer;
    std::uint32_t waitChildrenSeconds = package::kDefaultWaitChildrenSeconds;
    // Every entry kept as it is, even where compressing would save room.
    bool store = false;
};

struct CreateSummary {
    std::uint64_t imageSize = 0; // the stub's length plus padding: the first header's offset
    std::uint64_t padding = 0;
    std::uint64_t entries = 0;
    std::uint64_t payloadBytes = 0; // the files' own bytes
    std::uint64_t storedBytes = 0;  // what the payloads take in the package
    std::uint64_t compressed = 0;   // entries kept compressed
    std::uint64_t fileSize = 0;
    package::Sha256Digest digest{}; // of the package, as recorded in the stub's settings record
    std::vector<std::string> names; // the stored names, in the package's order
};

// Throws PackError, leaving no output file behind, when the request is refused or writing fails.
CreateSummary CreatePackage(const CreateRequest& request);

} // namespace packer
