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
#include <vector>

class CFile;

// How an extraction ended.
enum class ExtractionEnd {
    notRun,      // no package was found, or the executable could not be read
    complete,    // every entry written and held, the package the one the image's digest vouches
                 // for (or an image without a digest)
    refused,     // not the package the digest vouches for, damaged, a name the folder cannot
                 // hold or one given twice, or a file of it changed by another program
    noRoom,      // the extraction folder's volume has no room for an entry
    writeFailed, // an entry could not be created or written whole
};

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
    // image's settings record holds a digest. 1 when every entry was written; 0 otherwise, and then
    // nothing of it is kept (Ended tells why).
    int UnPackFiles() noexcept;

    [[nodiscard]] ExtractionEnd Ended() const noexcept { return end_; }
    // Whether what was extracted may be started: all of it, and the package the one the image's
    // digest vouches for, or the image carries no digest. Nothing else is ever started.
    [[nodiscard]] bool MayLaunch() const noexcept { return end_ == ExtractionEnd::complete; }

    // The extraction folder's path, ending in a backslash. The first call fixes it and makes the
    // folder this run's own (see ExtractionFolder::Create); later calls return it unchecked.
    std::wstring GetUnpackDir();
    // The folder and what this run extracted into it.
    [[nodiscard]] ExtractionFolder& Folder() noexcept { return folder_; }

    // Deletes the extraction folder and everything in it, leaving the directory it lies in as the
    // process's current directory; the folder goes only if it is the one this run created. True
    // when it is gone (or its path was never fixed); otherwise `leftovers`, when given, receives
    // what stays, each path after everything below it.
    bool Cleanup(std::vector<std::wstring>* leftovers = nullptr);

private:
    static DWORD WINAPI WorkerThread(LPVOID self);
    // Opens the running executable and finds its package, logging as FindHeader does; the file
    // stays open, so that everything is read through the one handle.
    ULONGLONG OpenPackage(CFile& file, package::PackageLocation& location) noexcept;
    int Extract(CFile& file, const package::PackageLocation& location, ULONGLONG headerOffset);
    // Ends an extraction that did not complete: nothing of it is kept, nothing of it is started.
    int EndExtraction(CFile& file, ExtractionEnd why) noexcept;

    UniqueHandle thread_;
    ExtractionFolder folder_;
    ExtractionEnd end_ = ExtractionEnd::notRun;
};
