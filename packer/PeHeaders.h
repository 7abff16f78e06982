// The few PE fields the package depends on. The stub reads the certificate table size at the
// 32-bit (PE32) position of the security directory, so only PE32 images can carry a package.
#pragma once

#include "package/PackageFormat.h"

#include <cstdint>

namespace packer {

struct StubPe {
    std::uint64_t headersEnd = 0;     // end of the PE signature, file and optional headers
    std::uint32_t securityAddress = 0; // file offset of the certificate table
    std::int32_t securitySize = 0;     // its size C, as the stub reads it (signed)
};

// Throws PackError with the reason when the file is not a PE32 image with a security directory.
StubPe ReadStubPe(package::ByteSource& file);

} // namespace packer
