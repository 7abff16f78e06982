// The single-instance guard: a named mutex created at start-up and held until the process ends.
// A second stub sees that it already exists (or may not open it) and refuses to run.
//
// The name is known to all and any program of any user may create it first. The stub's own mutex
// is owned by the Administrators group, which only a program with administrator rights may name
// as an object's owner; a mutex of that name with any other owner was taken by a program without
// them, which is no installation and stops nothing. Nor is an object of another kind under the
// name, which leaves no mutex to hold at all (app/MainSequence.cpp says what the run does).
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

    // Whether another stub holds it: it was there before, owned by the Administrators group or
    // SYSTEM.
    [[nodiscard]] bool AnotherInstanceRuns() const noexcept { return Existed() && !Squatted(); }
    // Whether it was there before but taken by a program without administrator rights.
    [[nodiscard]] bool Squatted() const noexcept { return Existed() && !ownerIsAdministrative_; }
    // Whether there is no guard at all: neither created nor there before. An event, semaphore or
    // other object of the name, which any user may create in the global namespace, makes the
    // creation fail (ERROR_INVALID_HANDLE); then no run could tell another one is going on.
    [[nodiscard]] bool Unavailable() const noexcept { return !mutex_ && !Existed(); }
    // Why it is unavailable: the error code its creation ended with.
    [[nodiscard]] DWORD CreationError() const noexcept { return lastError_; }
    // The owner of a mutex that was there before, as "S-1-5-..."; empty when it has none or it
    // cannot be read.
    [[nodiscard]] std::wstring PreviousOwner() const;

private:
    // Creates the mutex and records the error code seen right after, whether or not a handle came
    // back (183, ERROR_ALREADY_EXISTS, or 5, ERROR_ACCESS_DENIED, when it was there before), and
    // the owner of a mutex that already existed. Allocates nothing: it runs at start-up, before
    // anything could take a failure.
    void Create() noexcept;
    [[nodiscard]] bool Existed() const noexcept {
        return lastError_ == ERROR_ALREADY_EXISTS || lastError_ == ERROR_ACCESS_DENIED;
    }
    void ReadPreviousOwner() noexcept;

    DWORD lastError_ = 0;
    UniqueHandle mutex_;
    bool unnamed_;
    std::wstring name_;
    BYTE previousOwner_[SECURITY_MAX_SID_SIZE] = {}; // an empty SID: none read
    bool ownerIsAdministrative_ = false;
};

// The process's guard, created right after the application object.
extern CInstanceMutex theInstanceMutex;
