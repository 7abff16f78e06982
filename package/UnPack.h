// CUnPack: the extractor. It finds the package appended to the running executable, writes its
// files into the extraction folder "unpack\" in the temporary directory on a worker thread, and
// owns that folder: creates it fresh on first use (removing one left by an earlier run) and
// deletes it after the installer has ended.
#pragma once

#include "framework/UniqueHandle.h"
#include "package/PackageFormat.h"

#include <windows.h>

#include <string>
#include <vector>

class CFile;

class CUnPack {
public:
    CUnPack() = default;
    CUnPack(const CUnPack&) = delete;
    CUnPack& operator=(const CUnPack&) = delete;

    // Extracts on a worker thread and waits for it without a time-out. Returns 0 whatever the
    // extraction's outcome; the log tells it.
    int StartAndWait() noexcept;

    // Offset of the first entry header in the running executable; 0 when not found.
    ULONGLONG FindHeader() noexcept;

    // Writes every entry into the extraction folder, hashing the package on the way when the
    // image's digest slot is filled. 1 when all entries were gone through; 0 when there is no
    // package, the executable cannot be read, disk space was refused, the package turned out to be
    // damaged, or it is not the package the image vouches for (then nothing of it is kept).
    int UnPackFiles() noexcept;

    // Whether the package read is not the one the image's digest slot vouches for: longer,
    // shorter, unreadable or other bytes. Nothing of it may be launched.
    [[nodiscard]] bool PackageRefused() const noexcept { return packageRefused_; }

    // The extraction folder, ending in a backslash. The first call fixes the path, removes
    // whatever stands there (a stale folder, a file, a link as a link) and creates a fresh
    // folder that only SYSTEM and the administrators may touch, then holds it so that nobody can
    // rename or replace it. Later calls return the same path unchecked.
    std::wstring GetUnpackDir();

    // Whether this run extracted a file of that name (as Windows compares names, without case)
    // into its own folder, and under which name it wrote it.
    [[nodiscard]] bool HasExtracted(const std::wstring& name,
                                    std::wstring* written = nullptr) const;

    // Whether the folder is this run's own: created by it and held since. Nothing may be
    // extracted into or launched from a folder that is not.
    [[nodiscard]] bool OwnsFolder() const noexcept { return static_cast<bool>(folder_); }

    // Lets go of the folder, for a launch that failed or left nothing to wait for: the next run
    // removes it.
    void ReleaseFolder() noexcept { folder_.reset(); }

    // Deletes the extraction folder and everything in it, leaving the temporary directory as the
    // process's current directory; the folder goes only if it is the one this run created. True
    // when it is gone (or its path was never fixed).
    bool Cleanup();

private:
    static DWORD WINAPI WorkerThread(LPVOID self);
    // Opens the running executable and finds its package, logging as FindHeader does; the file
    // stays open, so that everything is read through the one handle.
    ULONGLONG OpenPackage(CFile& file, package::PackageLocation& location) noexcept;
    bool RemoveWhatStandsThere();
    bool CreateOwnFolder();
    void ForgetExtracted(const std::wstring& name);

    UniqueHandle thread_;
    std::wstring unpackDir_;
    UniqueFileHandle folder_; // held from the folder's creation until it is deleted
    BY_HANDLE_FILE_INFORMATION folderIdentity_ = {}; // volume and index of the folder created
    std::vector<std::wstring> extracted_;            // names written in full, as written
    bool packageRefused_ = false;
};
