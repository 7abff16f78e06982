// The installer's own temporary folder. What the stub starts runs elevated, and installers put
// their helpers in %TEMP% under names they choose (a bootstrapper's stages, an MSI's custom
// actions): in the machine's Temp, where every user may create names, a user could plant them
// there first. The installer's TEMP and TMP therefore name a folder this run creates new beside
// the extraction folder, protected as that one is (package/ExtractionFolder.h) and deleted with
// it. What an installer logs there (an MSI's verbose log, a setup log) is what support staff look
// for afterwards: each *.log file it leaves is copied beside the stub's own log first.
#pragma once

#include "util/Environment.h"

class ExtractionFolder;

// Creates `temp` with a fresh name beside the extraction folder and names it as TEMP and TMP in
// the installer's environment. False when it could not be created: nothing
// may start then.
[[nodiscard]] bool MakeInstallerTemp(ExtractionFolder& temp, Environment& installer);

// Copies each plain *.log file the installer left at the top of `temp` beside the stub's log, as
// "unpack.NAME", replacing an earlier run's copy; logs each copy, or why it was not made. Nothing
// is copied where the log is not written (the temporary directory is not the account's own).
void KeepInstallerLogs(const ExtractionFolder& temp);
