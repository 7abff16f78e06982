// CUnPack: the extractor. It finds the package appended to the running executable, checks it
// against the digest signed into the image and writes its files into the extraction folder on a
// worker thread, and owns that folder from its creation until it is deleted after the installer
// has ended.
#pragma once

#include "framework/UniqueHandle.h"
#include "package/ExtractionFolder.h"
#include "package/PackageFormat.h"

#include <windows.h>

#include <string>

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
    // damaged, or it is refused (then nothing of it is kept).
    int UnPackFiles() noexcept;

    // Whether the extraction ended in a verdict that lets what it extracted be started: the package
    // is the one the image's digest vouches for, or the image carries no digest. Nothing that
    // ended otherwise (no package, an error on the way) is ever started.
    [[nodiscard]] bool MayLaunch() const noexcept { return mayLaunch_; }
    // Whether the package was refused: not the one the digest vouches for (longer, shorter,
    // unreadable or other bytes), a file of it changed in the folder by another program, or an
    // extraction that failed midway. Nothing of it is kept.
    [[nodiscard]] bool PackageRefused() const noexcept { return packageRefused_; }

    // The extraction folder's path, ending in a backslash. The first call fixes it and makes the
    // folder this run's own (see ExtractionFolder::Create); later calls return it unchecked.
    std::wstring GetUnpackDir();
    // The folder and what this run extracted into it.
    [[nodiscard]] ExtractionFolder& Folder() noexcept { return folder_; }

    // Deletes the extraction folder and everything in it, leaving the temporary directory as the
    // process's current directory; the folder goes only if it is the one this run created. True
    // when it is gone (or its path was never fixed).
    bool Cleanup();

private:
    static DWORD WINAPI WorkerThread(LPVOID self);
    // Opens the running executable and finds its package, logging as FindHeader does; the file
    // stays open, so that everything is read through the one handle.
    ULONGLONG OpenPackage(CFile& file, package::PackageLocation& location) noexcept;
    int Extract(CFile& file, const package::PackageLocation& location, ULONGLONG headerOffset);
    // Nothing of the package is kept, and nothing of it may be started.
    int RefusePackage(CFile& file) noexcept;

    UniqueHandle thread_;
    ExtractionFolder folder_;
    bool mayLaunch_ = false;
    bool packageRefused_ = false;
};
