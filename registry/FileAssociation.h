// The machine's file associations, which the launch opens a packaged document with.
#pragma once

#include "util/Environment.h"

#include <string>

// The open command the machine registers for `extension` (".msi"), under HKEY_LOCAL_MACHINE: the
// user's own classes, which HKEY_CLASSES_ROOT and the shell merge in first, are not the user's to
// choose for an elevated launch. The environment strings of a REG_EXPAND_SZ are expanded against
// `machine`, never against the stub's own environment, which is the caller's. Empty when the
// machine has no association for it.
std::wstring MachineOpenCommand(const std::wstring& extension, const Environment& machine);
