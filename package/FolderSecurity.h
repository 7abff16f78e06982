// Who may touch the extraction folder. The stub runs elevated and runs what it extracts, while
// the temporary directory around the folder belongs to the desktop user: the folder gets a
// protected descriptor of its own, so that nothing of the user's is inherited into it.
#pragma once

#include <string>

namespace package {

// The folder's security descriptor, in the descriptor language: owned by the Administrators
// group (by the process's own user when the token is not an administrator's), inheriting
// nothing, and full access for SYSTEM and that owner only, passed on to every file and folder
// created inside. `userSid` (as "S-1-5-...") is used only for a token that is not an
// administrator's.
std::wstring ExtractionFolderSddl(bool administrator, const std::wstring& userSid);

} // namespace package
