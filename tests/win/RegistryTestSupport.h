// Registry set-up and inspection for the tests, done with the plain Win32 calls rather than the
// code under test. `view` is kStubView, the view the stub works in, unless a test looks at the
// machine's 64-bit view on purpose (KEY_WOW64_64KEY).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The 32-bit view: where the 32-bit stub lands by itself, and where a 64-bit build of it is sent.
constexpr REGSAM kStubView = KEY_WOW64_32KEY;

// The vendor's key and the two product keys below it.
inline const std::wstring kVendor = L"Software\\Tovari Inc.";
inline const std::wstring kProduct = L"Software\\Tovari Inc.\\Tovari Remote Server";
inline const std::wstring kBusiness = L"Software\\Tovari Inc.\\Tovari Remote Server for Business";

struct RawValue {
    LONG status = 0xDEAD;
    DWORD type = 0xDEADBEEF;
    std::vector<BYTE> data;
};

RawValue ReadRawValue(HKEY root, const std::wstring& path, const std::wstring& name,
                      REGSAM view = kStubView);
bool RawKeyExists(HKEY root, const std::wstring& path, REGSAM view = kStubView);
// The value names of the key, in the order the registry lists them.
std::vector<std::wstring> RawValueNames(HKEY root, const std::wstring& path,
                                        REGSAM view = kStubView);

// Create the key (and its parents) when missing, then write the value. Return the status.
LONG CreateRawKey(HKEY root, const std::wstring& path, DWORD options = REG_OPTION_NON_VOLATILE);
LONG SetRawValue(HKEY root, const std::wstring& path, const std::wstring& name, DWORD type,
                 const void* data, DWORD size);
LONG SetRawDword(HKEY root, const std::wstring& path, const std::wstring& name, DWORD value);
// Stores the text with its NUL.
LONG SetRawString(HKEY root, const std::wstring& path, const std::wstring& name,
                  const std::wstring& text);
// Deletes the key and everything below it; first gives full access back, in case a test took it
// away.
void DeleteRawTree(HKEY root, const std::wstring& path, REGSAM view = kStubView);
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
