// Listing a built stub's entries, signed or not, in the order the stub extracts them.
#pragma once

#include "package/PackageFormat.h"

#include <ostream>

namespace packer {

// Writes "image S bytes, certificate table C bytes", the digest's state and the exit-code choice
// (as Reading.h words them), then one line per entry:
// index, name, size and payload offset, separated by tabs (a name holds no tab: non-printable
// bytes are shown as \xNN). Throws PackError, after the entries it could read, when the file holds
// no package or is cut short.
void ListPackage(package::ByteSource& file, std::ostream& out);

} // namespace packer
