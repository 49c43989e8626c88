// Replacing a package file so that readers and a crash only ever see the old or the new text.
#pragma once
#include <string>
#include <sys/stat.h>

// Writes text to a temporary file beside path, syncs it, renames it over path and syncs the
// directory. The new file gets the permission bits (and, where allowed, the owner) of like.
// On failure the temporary file is removed, path is untouched and false is returned.
bool UciReplaceFile(const std::string &path, const std::string &text, const struct stat &like);
