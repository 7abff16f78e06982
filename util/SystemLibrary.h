// Libraries the stub loads at run time come from the system directory only, never through the
// search path: the stub runs elevated from wherever it was downloaded to, and a DLL of that name
// lying next to it must not be picked up.
#pragma once

#include <windows.h>

// Loads `name` (for example L"userenv.dll") from the system directory: through the search
// restricted to it where Windows can restrict it, else by its full path there. The library stays
// loaded for the rest of the process. Null when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name) noexcept;

// The full path of `name` followed by `extension` (which may be empty) in the system directory,
// into `path`, a buffer of MAX_PATH + 1 characters; built without allocating, so that start-up
// code may use it. False when it does not fit or the directory cannot be had.
bool SystemDirectoryPath(const wchar_t* name, const wchar_t* extension,
                         wchar_t (&path)[MAX_PATH + 1]) noexcept;

// An export of a library loaded that way, as the function type the caller names; null when the
// library or the export is missing.
template <typename Function> Function SystemLibraryExport(HMODULE library, const char* name) {
    if (library == nullptr)
        return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}
