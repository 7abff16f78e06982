// The extraction folder's end, once per run: deleted with everything in it, or, what must stay
// (a program still running from it, a file still held), left for later (util/RestartDeletion.h)
// and named in the log.
#pragma once

class CUnPack;
class ExtractionFolder;

// What the run did with the folder.
enum class FolderUse {
    unused,    // nothing started from it: deleted at once; what another program holds stays
               // until the next run removes it
    released,  // what started from it has ended, or could not start: deleted once it lets go
    stillUsed, // the installer left processes running: deleted now as far as it can be
};

// Deletes the extraction folder and the installer's temporary folder (app/InstallerTemp.h) alike.
void Dispose(CUnPack& unpack, ExtractionFolder& installerTemp, FolderUse use);
