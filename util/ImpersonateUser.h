// Impersonation of the user logged on to the process's session, for the length of one scope. The
// stub runs elevated, possibly under another account than the desktop's; an object of this class
// makes the calling thread act as the desktop user until it is destroyed.
#pragma once

#include "framework/UniqueHandle.h"

#include <windows.h>

class CImpersonateUser {
public:
    // Gets the logged-on user's token and impersonates it on the calling thread. Never fails:
    // without a token, or when the impersonation is refused, the thread stays as it was.
    CImpersonateUser();
    // Reverts the impersonation, if any, and closes the token. Objects are never nested: the
    // thread returns to the process's own context, not to an outer impersonation.
    virtual ~CImpersonateUser();

    CImpersonateUser(const CImpersonateUser&) = delete;
    CImpersonateUser& operator=(const CImpersonateUser&) = delete;

    [[nodiscard]] bool IsImpersonating() const noexcept { return impersonating_; }
    [[nodiscard]] bool HasUserToken() const noexcept { return static_cast<bool>(userToken_); }

private:
    bool impersonating_ = false;
    UniqueHandle userToken_;
};
