// The account the process runs as, read from its own token.
#pragma once

#include "framework/UniqueHandle.h"

#include <windows.h>

#include <string>

struct ProcessUser {
    UniqueHandle token; // TOKEN_QUERY
    union {
        TOKEN_USER user;
        BYTE bytes[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
    } info;

    [[nodiscard]] PSID Sid() const noexcept { return info.user.User.Sid; }
};

// False when the process's token or its user cannot be read.
[[nodiscard]] bool ReadProcessUser(ProcessUser& user) noexcept;

// A SID as "S-1-5-..."; empty when there is none or it cannot be converted.
std::wstring SidText(PSID sid);

// Whether the process's token holds the Administrators group enabled: an elevated administrator,
// or SYSTEM.
[[nodiscard]] bool ProcessIsAdministrator() noexcept;

// Whether the process runs as SYSTEM (a deployment engine's service).
[[nodiscard]] bool ProcessIsSystem() noexcept;
