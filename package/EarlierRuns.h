// Folders that earlier runs of the stub left beside the extraction folder: a run whose installer
// left a program running from its folder, or that ended before it could delete it. Each is
// removed before this run extracts, and what cannot be removed yet is left for later
// (util/RestartDeletion.h), so that no leftover stops a later run. Only a folder a run made is
// touched: one of a run's names, owned as a run owns its folder, with a protected descriptor that
// grants SYSTEM and that owner alone (package/FolderSecurity.h). Nobody else can give a folder that
// owner; a folder of that name anybody else made stays as it is.
#pragma once

#include "package/ExtractionRoot.h"

#include <windows.h>

#include <string>

// Whether the open folder (READ_CONTROL access) is one a run made for the owner `ownerSid`
// ("S-1-5-32-544" for the Administrators group).
[[nodiscard]] bool MadeByARun(HANDLE folder, const std::wstring& ownerSid);

// Removes, in the root, every folder of a run's name that a run made, logging what stays and
// how it is left for later.
void RemoveEarlierRuns(const ExtractionRoot& root, const std::wstring& ownerSid);
