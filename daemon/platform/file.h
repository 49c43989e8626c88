// Whole-file reads and replacements that readers and a crash only ever see complete.
#pragma once
#include <string>
#include <sys/stat.h>

// Writes content to a hidden temporary file beside path (created 0600, so a secret is never
// readable on the way), gives it the permission bits mode (and the owner of owner_like when
// given and allowed), syncs it, renames it over path and syncs the directory. A path that is a
// symbolic link is replaced at its target. On failure the temporary file is removed, path is
// untouched and false is returned with errno set.
bool ZND_FileReplace(const char *path, const std::string &content, mode_t mode,
                     const struct stat *owner_like = nullptr);
// ZND_FileReplace in two steps, for a caller that must do more before the new text appears at
// path (lock the new file, check that path is still what it read): the new file is written and
// synced as "." + name + "." + tag + six characters beside path's target; its descriptor comes
// back (-1 on failure, nothing left behind) and its path in *staged. The commit renames it over
// path's target and syncs the directory; on failure it removes the staged file.
int ZND_FileStage(const char *path, const std::string &content, mode_t mode, const struct stat *owner_like,
                  const char *tag, std::string *staged);
bool ZND_FileCommitStaged(const std::string &staged, const char *path);
// Reads the whole file, and its permission bits when mode is given; false when it cannot be read.
bool ZND_FileRead(const char *path, std::string *content, mode_t *mode = nullptr);
