// Listing a built stub's entries, signed or not, in the order the stub extracts them.
#pragma once

#include "package/PackageFormat.h"

#include <ostream>

namespace packer {

// Writes "image S bytes, certificate table C bytes", the digest's state, the exit-code choice and
// the options (as Reading.h words them), then one line per entry: index, stored name (folders
// and file joined by backslashes), size and payload offset, separated by tabs (a name holds no
// tab: non-printable bytes are shown as \xNN). Throws PackError, after the entries it could read,
// when the file holds no package or is cut short.
void ListPackage(package::ByteSource& file, std::ostream& out);

} // namespace packer
