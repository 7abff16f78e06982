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

// Whether this process's package was held, to its end, against the digest signed into the image,
// matching or not: the run's closing line then names that digest. False for a package without a
// digest, and for one refused or unreadable before its end.
[[nodiscard]] bool PackageHeldAgainstDigest() noexcept;

class CUnPack {
public:
    CUnPack() = default;
    CUnPack(const CUnPack&) = delete;
    CUnPack& operator=(const CUnPack&) = delete;

    // The first step of a run: makes the extraction folder (GetUnpackDir), then extracts on a
    // worker thread and waits for it without a time-out. Returns how it ended, as the run's
    // outcome codes (app/RunOutcome.h): 0 when every entry was written and held (none when no
    // package was found: then nothing was extracted), 1620 for a package that is not the one the
    // image's digest vouches for, is damaged, holds a name the folder cannot hold or one given
    // twice, or whose file another program changed, 112 when the folder's volume has no room,
    // 1603 when an entry could not be created or written whole. The folder then holds nothing
    // that may start; it goes when the run disposes of it.
    DWORD StartAndWait();

    // Offset of the first entry header in the running executable; 0 when not found.
    ULONGLONG FindHeader();

    // Writes every entry into the extraction folder, hashing the package on the way when the
    // image's settings record holds a digest. 1 when every entry was written; 0 otherwise (Result
    // tells why). Runs on the worker thread.
    int UnPackFiles();

    // The extraction's outcome, as StartAndWait returns it.
    [[nodiscard]] DWORD Result() const noexcept { return result_; }

    // The extraction folder's path, ending in a backslash. The first call fixes it and makes the
    // folder this run's own (see ExtractionFolder::Create); later calls return it unchecked.
    std::wstring GetUnpackDir();
    // The folder and what this run extracted into it.
    [[nodiscard]] ExtractionFolder& Folder() noexcept { return folder_; }
    [[nodiscard]] const ExtractionFolder& Folder() const noexcept { return folder_; }

    // Deletes the extraction folder and everything in it, leaving the directory it lies in as the
    // process's current directory; the folder goes only if it is the one this run created. True
    // when it is gone (or its path was never fixed); otherwise `leftovers`, when given, receives
    // what stays, each path after everything below it.
    bool Cleanup(std::vector<std::wstring>* leftovers = nullptr);

private:
    static DWORD WINAPI WorkerThread(LPVOID self);
    // Opens the running executable and finds its package, logging as FindHeader does; the file
    // stays open, so that everything is read through the one handle.
    ULONGLONG OpenPackage(CFile& file, package::PackageLocation& location);
    int Extract(CFile& file, const package::PackageLocation& location, ULONGLONG headerOffset);
    // Ends an extraction that did not complete, with `why`: nothing of it is started.
    int EndExtraction(CFile& file, DWORD why) noexcept;

    UniqueHandle thread_;
    ExtractionFolder folder_;
    DWORD result_ = ERROR_SUCCESS;
};
