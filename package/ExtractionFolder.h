// The extraction folder "unpack\" in the temporary directory, and the files this run extracted
// into it. The stub runs elevated and starts what lies there, while the temporary directory
// around it is the desktop user's: the folder is created by this run, by the very call that
// returns its handle, and held from then on so that nobody can rename or replace it; every file is
// created new in it, through its handle, and once written is held so that nobody can write, rename
// or delete it until the installer has ended. Where no access-control list protects the folder (a
// FAT volume, Wine), those handles are all that keep what runs the bytes that were extracted.
#pragma once

#include "framework/UniqueHandle.h"

#include <windows.h>

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

    // Fixes the path, the temporary directory followed by "unpack\", and makes the folder this
    // run's own: whatever stands there (a stale folder, a file, a link as a link) is removed and a
    // fresh folder created that only SYSTEM and the administrators may touch. The path is fixed
    // whether or not that succeeded; IsOwn tells.
    void Create();

    // Ends in a backslash; empty until Create.
    [[nodiscard]] const std::wstring& Path() const noexcept { return path_; }
    // Whether this run created the folder and holds it still. Nothing may be extracted into or
    // started from a folder that is not.
    [[nodiscard]] bool IsOwn() const noexcept { return static_cast<bool>(folder_); }
    [[nodiscard]] HANDLE Handle() const noexcept { return folder_.get(); }

    // Takes the file `written` has just filled as `name`: pins its times, closes the writer and
    // holds the file again at once, sharing reading only, so that the installer may read and start
    // it and nobody may change it. False, with nothing kept, when the file reached again is not the
    // one written or has changed in between.
    [[nodiscard]] bool Keep(CFile& written, const std::wstring& name);

    // Whether this run extracted a file of that name (as Windows compares names, without case),
    // and under which name it wrote it.
    [[nodiscard]] bool HasExtracted(const std::wstring& name,
                                    std::wstring* written = nullptr) const;

    // Deletes the file of that name extracted earlier in this run, for a later entry of the same
    // name. False when what stands there is no longer that file.
    [[nodiscard]] bool Discard(const std::wstring& name);

    // Whether anything lies under `name` in the folder.
    [[nodiscard]] bool Holds(const std::wstring& name) const;

    // Lets go of the files and the folder, which stay for the next run to remove (a launch that
    // failed or left nothing to wait for).
    void LetGo() noexcept;

    // Lets go of the files, then deletes the folder and everything in it if it is the very folder
    // this run created. True when it is gone, or was never made.
    bool Delete();

private:
    struct Extracted {
        std::wstring name; // as written
        UniqueFileHandle held;
        FileState state;
    };

    bool RemoveWhatStandsThere();
    void RemoveAsItself(HANDLE stale);
    bool CreateOwnFolder();

    std::wstring path_;
    UniqueFileHandle folder_; // held from the folder's creation until it is deleted
    FileState folderState_;   // the folder created, to know it again
    std::vector<Extracted> extracted_;
};
