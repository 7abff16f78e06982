// Looking at tokens and handles in the token tests.
#pragma once

#include <windows.h>

#include <string>

// TokenPrimary or TokenImpersonation; 0 when the token cannot be queried.
int TokenTypeOf(HANDLE token);
// The token user's SID as text; empty when it cannot be read.
std::wstring UserSidOf(HANDLE token);
// The user SID of a process's token; empty when it cannot be read.
std::wstring ProcessUserSid(DWORD processId);
// The user SID of the calling thread's impersonation token; empty when it has none.
std::wstring ThreadUserSid();
bool HandleIsOpen(HANDLE handle);
// The session of this process; 0xDEADBEEF when it cannot be read.
DWORD OwnSession();
