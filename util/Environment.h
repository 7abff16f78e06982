// The environment of what the stub starts, as plain values. The stub runs elevated and whoever
// starts it chooses its own environment (a variable set before the start, or under the user's
// HKCU\Environment, which Windows hands to the user's elevated processes too): the installer gets
// the machine's variables instead, and every %NAME% the stub expands itself is taken from them.
#pragma once

#include <string>
#include <vector>

struct EnvironmentVariable {
    std::wstring name;
    std::wstring value;
};

// In the order of the block; names compare without regard to the case of A to Z, as Windows
// compares them.
using Environment = std::vector<EnvironmentVariable>;

// Reads a block of "NAME=value" strings, each ended by a NUL, the block by a second NUL. A string
// without "=" after its first character is left out; the hidden "=C:=C:\" entries are kept.
Environment ParseEnvironmentBlock(const wchar_t* block);

// The block CreateProcessW takes with CREATE_UNICODE_ENVIRONMENT, sorted by name as Windows keeps
// its own blocks, ended by two NULs.
std::vector<wchar_t> EnvironmentBlock(Environment environment);

// The value of `name`, or null.
const std::wstring* FindVariable(const Environment& environment, const std::wstring& name);
// Replaces the value of `name`, or adds it.
void SetVariable(Environment& environment, const std::wstring& name, const std::wstring& value);
void RemoveVariable(Environment& environment, const std::wstring& name);

// %NAME% replaced by the variable's value, as ExpandEnvironmentStrings does: a name that is not
// set, and a lone %, stay as they stand.
std::wstring ExpandVariables(const std::wstring& text, const Environment& environment);
