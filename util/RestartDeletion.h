// What cannot be deleted now goes at the next restart: a file a program still holds or runs from,
// and the folders holding it. Windows carries the deletions out while it starts, before any
// program could hold the files again. Only administrators and SYSTEM may ask for it.
#pragma once

#include <string>
#include <vector>

// Schedules each path for deletion at the next restart, in the order given (files before the
// folders holding them), and logs each under `source`: what stays until then, or what could not
// even be scheduled.
void DeleteAtNextRestart(const std::vector<std::wstring>& paths, const wchar_t* source);
