// Extracting a built stub's entries into a folder, as the stub does on the target machine: the
// entries the counts announce, in order, each under its stored name. An entry whose name the stub
// would refuse (folders, drives) or that would not mean the same on every Windows machine
// (non-ASCII bytes, characters Windows forbids, device names) is skipped and reported; a header or
// payload cut off by the end of the file stops the extraction before anything of it is written.
#pragma once

#include "packer/FileIo.h"

#include "package/PackageFormat.h"

#include <filesystem>
#include <ostream>

namespace packer {

struct ExtractSummary {
    int written = 0;
    int skipped = 0;
};

// Creates `folder` if needed and writes each file there whole or not at all, reporting every
// entry on `out` and every skipped one on `err`. Throws PackError when the file holds no package,
// is cut short, or a file cannot be written; files written before that stay. Refusing existing
// files, it first looks at every name it would write and throws, having written nothing, when one
// is taken in `folder` or two entries share one when case is ignored (on Windows the later would
// replace the earlier).
ExtractSummary ExtractPackage(package::ByteSource& file, const std::filesystem::path& folder,
                              Existing existing, std::ostream& out, std::ostream& err);

} // namespace packer
