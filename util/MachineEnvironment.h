// The environment the stub gives what it starts: the machine's variables, from the system's own
// records, never the caller's.
#pragma once

#include "util/Environment.h"

#include <windows.h>

// The system's variables (windir, SystemRoot, ComSpec, the machine's PATH and PATHEXT, TEMP and
// TMP of the machine, ...), as CreateEnvironmentBlock gives them without a user's token, and the
// process's own account from its token: USERNAME, USERDOMAIN and USERPROFILE (the profile folder
// the machine records for the account). NoDefaultCurrentDirectoryInExePath is left out: with it
// the command processor would look along the PATH for run.bat before the extraction folder. False
// when the machine's variables cannot be had; nothing may be started then.
[[nodiscard]] bool MachineEnvironment(Environment& environment);

// The profile folder the machine records for the token's account (its profile list, never a
// variable); empty when it cannot be had.
std::wstring ProfileFolderOf(HANDLE token);
