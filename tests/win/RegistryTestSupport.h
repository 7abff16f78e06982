// Registry set-up and inspection for the tests, done with the plain Win32 calls rather than the
// code under test. `view` is 0 for the process's own (32-bit) view or KEY_WOW64_64KEY.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

struct RawValue {
    LONG status = 0xDEAD;
    DWORD type = 0xDEADBEEF;
    std::vector<BYTE> data;
};

RawValue ReadRawValue(HKEY root, const std::wstring& path, const std::wstring& name,
                      REGSAM view = 0);
bool RawKeyExists(HKEY root, const std::wstring& path, REGSAM view = 0);

// Create the key (and its parents) when missing, then write the value. Return the status.
LONG CreateRawKey(HKEY root, const std::wstring& path, DWORD options = REG_OPTION_NON_VOLATILE);
LONG SetRawValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
                 const void* data, DWORD size);
LONG SetRawDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value);
// Stores the text with its NUL.
LONG SetRawString(HKEY root, const std::wstring& path, const std::wstring& name,
                  const std::wstring& text);
// Deletes the key and everything below it, in the process's own view; first gives full access
// back, in case a test took it away.
void DeleteRawTree(HKEY root, const std::wstring& path);
void DeleteRawValue(HKEY root, const std::wstring& path, const std::wstring& name);

// Replaces the key's access list by one entry granting `access` to everyone.
LONG GrantEveryoneOnly(HKEY root, const std::wstring& path, REGSAM access);

// Whether the registry refuses a full-access open of a key that grants everyone only KEY_READ.
// Creates and deletes a scratch key below `scratchParent`.
bool RegistryEnforcesReadOnlyKeys(HKEY root, const std::wstring& scratchParent);

std::vector<BYTE> Utf16Bytes(const std::wstring& text); // with the terminating NUL
std::vector<BYTE> DwordBytes(DWORD value);

// Whether the calling thread carries an impersonation token; error code in *error otherwise.
bool ThreadIsImpersonating(DWORD* error = nullptr);
