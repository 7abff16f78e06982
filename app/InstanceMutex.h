// The single-instance guard: a named mutex created at start-up and held until the process ends.
// A second stub sees that it already exists (or may not open it) and refuses to run.
#pragma once

#include "framework/UniqueHandle.h"

#include <windows.h>

#include <string>

class CInstanceMutex {
public:
    // An empty name creates an unnamed mutex, which guards nothing.
    explicit CInstanceMutex(const wchar_t* name);
    CInstanceMutex(const CInstanceMutex&) = delete;
    CInstanceMutex& operator=(const CInstanceMutex&) = delete;

    // Closes a mutex already held, then creates it again and records the error code seen right
    // after, whether or not a handle came back.
    void Create() noexcept;

    // 183 (ERROR_ALREADY_EXISTS) or 5 (ERROR_ACCESS_DENIED) when another instance holds it.
    [[nodiscard]] DWORD LastError() const noexcept { return lastError_; }
    [[nodiscard]] bool AnotherInstanceRuns() const noexcept {
        return lastError_ == ERROR_ALREADY_EXISTS || lastError_ == ERROR_ACCESS_DENIED;
    }

private:
    DWORD lastError_ = 0;
    UniqueHandle mutex_;
    bool unnamed_;
    std::wstring name_;
};

// The process's guard, created right after the application object.
extern CInstanceMutex theInstanceMutex;
