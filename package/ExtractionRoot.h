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

// The machine's temporary directory for the process, ending in a backslash: SystemTemp in the
// Windows directory for SYSTEM where it exists (what GetTempPath2W gives SYSTEM, closed to other
// users), the Windows directory's Temp otherwise.
std::wstring MachineTempPath(const std::wstring& windowsDirectory, bool system,
                             bool systemTempExists);

struct ExtractionRoot {
    std::wstring path; // ending in a backslash
    // Held without delete sharing while the folder is in use: it cannot be renamed or replaced.
    UniqueFileHandle folder;
    bool machine = false; // the machine's temporary directory, not the caller's
};

// Opens the root for this process. Its folder handle is empty when it cannot be opened.
ExtractionRoot OpenExtractionRoot();
