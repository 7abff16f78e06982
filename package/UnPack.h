// CUnPack: the extractor. It owns the extraction folder "unpack\" in the temporary directory:
// creates it fresh on first use (removing one left by an earlier run) and deletes it after the
// installer has ended.
#pragma once

#include <windows.h>

#include <string>

class CUnPack {
public:
    CUnPack() = default;
    CUnPack(const CUnPack&) = delete;
    CUnPack& operator=(const CUnPack&) = delete;

    // The extraction folder, ending in a backslash. The first call fixes the path, removes a
    // stale folder and creates a fresh one; later calls return the same path unchecked.
    std::wstring GetUnpackDir();

    // Deletes the extraction folder and everything in it, leaving the temporary directory as the
    // process's current directory. Does nothing before the path has been fixed.
    void Cleanup();

private:
    std::wstring unpackDir_;
};
