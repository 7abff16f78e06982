// What listing and extracting share: finding the first header of a built stub, signed or not,
// and explaining in one line why a walk over its entries ended early.
#pragma once

#include "package/EntryWalk.h"
#include "package/PackageFormat.h"

#include <cstdint>

namespace packer {

// The located package; throws PackError when the file holds none.
package::PackageLocation FindPackage(package::ByteSource& file);

// Throws PackError unless the walk visited every entry the counts announce.
void RequireCompleteWalk(const package::WalkResult& result, package::ByteSource& file);

} // namespace packer
