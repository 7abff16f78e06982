// Where the extraction folder lies. The elevated stub starts what it extracts with administrator
// rights, so it extracts only where administrators alone can write: the machine's temporary
// directory, named from GetSystemWindowsDirectoryW and never from a variable, a registry value or
// the caller's temporary directory, whose text, volume and characters the desktop user chooses
// (a name Windows trims, a "!" or a blank a script reads, a network share or a FAT volume where
// no access-control list holds). A process without administrator rights has no boundary to
// defend and extracts into its own temporary directory.
#pragma once

#include "framework/UniqueHandle.h"

#include <string>

struct ExtractionRoot {
    std::wstring path; // ending in a backslash
    // Held without delete sharing while the folder is in use: it cannot be renamed or replaced.
    UniqueFileHandle folder;
    // Whether SYSTEM and the administrators alone may create names in it (SYSTEM's SystemTemp),
    // as its own descriptor says. Only there may what a run cannot delete be left to the restart:
    // Windows deletes by the stored path then, following whatever a user put in its place once
    // the folder has gone (a junction to a folder of their choosing, in the machine's Temp).
    bool closedToUsers = false;
};

// Opens the root for this process: for SYSTEM, SystemTemp in the Windows directory where it
// exists (what GetTempPath2W gives SYSTEM, closed to other users); for an administrator, the
// Windows directory's Temp; otherwise the process's own temporary directory. Its folder handle is
// empty when it cannot be opened.
ExtractionRoot OpenExtractionRoot();
