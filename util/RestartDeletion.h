// What a run cannot delete now (a file a program still holds or runs from, and the folders holding
// it) stays, and goes later in one of two ways. Where no user can create names (SYSTEM's
// SystemTemp) it goes at the next restart: Windows deletes it by its path while it starts, before
// any program could hold it again; only administrators and SYSTEM may ask for that. Anywhere else
// a path deleted at the restart could by then lead somewhere else: the folder may have been
// removed meanwhile (by the next run, by Disk Cleanup) and its name made a junction to a folder
// of a user's choosing, which SYSTEM would then delete in. There it stays, protected as it is, and
// a later run removes it through handles once it knows it for an earlier run's folder.
#pragma once

#include <string>
#include <vector>

// Leaves each path of what stays, in the order given (files before the folders holding them), to
// the restart when `closedToUsers`, else to the next run; logs each under `source`, with which
// of the two it got, or that it could not even be scheduled.
void LeaveForLater(const std::vector<std::wstring>& paths, bool closedToUsers,
                   const wchar_t* source);
