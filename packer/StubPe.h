// The stub's PE headers as the packing tool checks them: stricter than the stub, which takes
// whatever lies at the security directory's position, so that a file that is not a PE image
// (or whose headers the stub would misread) is refused with the reason.
#pragma once

#include "package/PackageFormat.h"

#include <cstdint>

namespace packer {

struct StubPe {
    bool pe32Plus = false;             // a 64-bit image
    std::uint64_t headersEnd = 0;      // end of the PE signature, file and optional headers
    std::uint32_t securityAddress = 0; // file offset of the certificate table
    std::int32_t securitySize = 0;     // its size C, as the stub reads it (signed)
};

// Throws PackError with the reason when the file is not a PE32 or PE32+ image with a security
// directory.
StubPe ReadStubPe(package::ByteSource& file);

} // namespace packer
