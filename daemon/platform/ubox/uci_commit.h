// Replacing a UCI package file beside other writers: the uci tool and every libuci program lock
// the package file (flock on the file as it is when they open it), read it, and rename a new file
// over it. A writer that waited for the lock on a file that was renamed away reads stale text and
// would write it back. The commit here takes the same lock, makes sure it holds the current file
// and that no other writer is between its unlock and its rename, renames the complete new text
// (synced, and locked before it appears) over the package and gives the old file the new text
// too: whoever waited on it reads what we committed, not what we replaced. The new package stays
// locked until every process that had the old file open is done with it, so that no two writers
// ever work from different files. A kill at any moment leaves the old or the new package whole.
#pragma once
#include <string>
#include <sys/stat.h>

struct ZND_UciLockedPackage {
    int fd = -1;           // the package file, locked exclusively
    std::string name;      // the package
    std::string path;      // the package file as the configuration directory names it
    struct stat st = {};
};

// Opens and locks the package file of the configuration directory dir. False (errno set) when it
// does not exist or cannot be locked.
bool ZND_UciLockPackage(const char *dir, const char *package, ZND_UciLockedPackage *out);
// Commits text as the package's new content: written beside it, synced, renamed over it, the
// directory synced, and the text handed to the old file for the writers that wait on it. On
// failure the package file is as it was; errno EAGAIN when another writer's commit came first.
bool ZND_UciReplacePackage(ZND_UciLockedPackage *pkg, const std::string &text);
// Releases the lock.
void ZND_UciUnlockPackage(ZND_UciLockedPackage *pkg);
