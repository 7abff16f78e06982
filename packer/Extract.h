// Extracting a built stub's entries into a folder, as the stub does on the target machine: the
// entries the counts announce, in order, each under its stored name, its folders created inside
// the target folder as needed. An entry whose name would lead out of the folder ("..", drives,
// a leading backslash) or would not mean the same on every Windows machine (non-ASCII bytes,
// characters Windows forbids, device names) is skipped and reported; a header or payload cut off
// by the end of the file stops the extraction before anything of it is written. A link inside
// the target folder is never written through.
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
// is cut short, or a file cannot be written; files written before that stay. It first looks at
// every name it would write and throws, having written nothing, when an entry's folder in
// `folder` is a link or a file, or one entry needs another's file as a folder; and, refusing
// existing files, when a name is taken in `folder` or two entries share one when case is ignored
// (on Windows the later would replace the earlier).
ExtractSummary ExtractPackage(package::ByteSource& file, const std::filesystem::path& folder,
                              Existing existing, std::ostream& out, std::ostream& err);

} // namespace packer
