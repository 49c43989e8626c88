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
// Reads the whole file, and its permission bits when mode is given; false when it cannot be read.
bool ZND_FileRead(const char *path, std::string *content, mode_t *mode = nullptr);
