// The extraction folder and the files and folders this run extracted into it. The stub runs
// elevated and starts what lies there: the folder lies where administrators alone can write
// (package/ExtractionRoot.h), is created by this run, by the very call that returns its handle,
// and is held from then on so that nobody can rename or replace it; every file and folder of the
// package is created new in it, through its parent's handle, and once written is held so that
// nobody can write, rename or delete it until the installer has ended. Where no access-control
// list protects the folder (a FAT volume, Wine), those handles are all that keep what runs the
// bytes that were extracted.
#pragma once

#include "framework/UniqueHandle.h"
#include "package/ExtractionRoot.h"

#include <windows.h>

#include <map>
#include <string>
#include <vector>

class CFile;

// Which file a handle reaches in the folder and how it was left, to tell it from one put in its
// place or rewritten. (Everything in the folder lies on its volume: links are never followed.)
struct FileState {
    ULONGLONG index = 0;
    ULONGLONG size = 0;
    LONGLONG lastWrite = 0;
    LONGLONG change = 0;
    DWORD links = 0;

    [[nodiscard]] bool SameFileAs(const FileState& other) const noexcept {
        return index == other.index;
    }
    [[nodiscard]] bool operator==(const FileState& other) const noexcept {
        return SameFileAs(other) && size == other.size && lastWrite == other.lastWrite &&
               change == other.change && links == other.links;
    }
};

class ExtractionFolder {
public:
    ExtractionFolder() = default;
    ExtractionFolder(const ExtractionFolder&) = delete;
    ExtractionFolder& operator=(const ExtractionFolder&) = delete;

    // How the folder is named in the root.
    enum class Naming {
        extraction, // "unpack", or a fresh name when that is taken
        fresh,      // a fresh name only, beside the extraction folder
    };
    // Makes a folder this run's own in the root: for the extraction folder, earlier runs' folders
    // there are removed first (package/EarlierRuns.h), then "unpack" is created, or, when that
    // name is taken by anything this run may not remove, a folder of a fresh name nobody can
    // guess. Only SYSTEM and the administrators may touch it. The path is fixed whether or not
    // that succeeded; IsOwn tells.
    void Create(Naming naming = Naming::extraction);

    // Ends in a backslash; empty until Create.
    [[nodiscard]] const std::wstring& Path() const noexcept { return path_; }
    // Whether this run created the folder and holds it still. Nothing may be extracted into or
    // started from a folder that is not.
    [[nodiscard]] bool IsOwn() const noexcept { return static_cast<bool>(folder_); }
    [[nodiscard]] HANDLE Handle() const noexcept { return folder_.get(); }
    // Whether what stays of the folder may be left to the restart (package/ExtractionRoot.h).
    [[nodiscard]] bool RootClosedToUsers() const noexcept { return root_.closedToUsers; }

    // Where an entry goes: the open folder it lies in, and its own name there.
    struct Place {
        HANDLE folder = nullptr;
        std::wstring name;
    };
    // The place of an entry of that path, its folders created new on the way and held. A null
    // folder, with the reason in the thread's last error, when one could not be created:
    // ERROR_ALREADY_EXISTS when its name is taken.
    Place PlaceFor(const std::wstring& entryPath);

    // Takes the file `written` has just filled as `entryPath`, at `place`: pins its times, closes
    // the writer and holds the file again at once, sharing reading only, so that the installer may
    // read and start it and nobody may change it. False, with nothing kept, when the file reached
    // again is not the one written or has changed in between.
    [[nodiscard]] bool Keep(CFile& written, const Place& place, const std::wstring& entryPath);

    // Whether this run extracted a file of that path (as Windows compares names, without case),
    // and under which path it wrote it.
    [[nodiscard]] bool HasExtracted(const std::wstring& entryPath,
                                    std::wstring* written = nullptr) const;
    // Whether this run extracted a file or made a folder of that path, compared without case.
    [[nodiscard]] bool HasMade(const std::wstring& entryPath) const;
    // The handle that holds an extracted file; null when there is none of that path.
    [[nodiscard]] HANDLE HeldFile(const std::wstring& entryPath) const;

    // Whether anything lies under `name` in the open folder `parent`.
    [[nodiscard]] static bool Holds(HANDLE parent, const std::wstring& name);

    // Lets go of the files and the folders, then deletes the folder and everything in it if it is
    // the very folder this run created. True when it is gone, or was never made; otherwise
    // `leftovers`, when given, receives what stays, each path after everything below it.
    bool Delete(std::vector<std::wstring>* leftovers = nullptr);

private:
    // A file extracted or a folder made, held until the folder is deleted.
    struct Made {
        std::wstring path; // as written
        UniqueFileHandle held;
        bool isFolder = false;
    };
    // Found by its path as Windows compares names, without case.
    const Made* Find(const std::wstring& entryPath) const;

    bool CreateOwnFolder(const std::wstring& name, PSECURITY_DESCRIPTOR descriptor);
    void LetGo() noexcept;

    ExtractionRoot root_;
    std::wstring name_; // the folder's name in the root
    std::wstring path_;
    UniqueFileHandle folder_;           // held from the folder's creation until it is deleted
    FileState folderState_;             // the folder created, to know it again
    std::map<std::wstring, Made> made_; // by the path upper-cased
};
