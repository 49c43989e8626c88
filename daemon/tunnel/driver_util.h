// Checks and file writes shared by the tunnel drivers. Node addresses come from the cloud and
// credentials from the user: they are checked before anything is configured, and the files that
// carry them are written directly, never through a shell.
#pragma once
#include <string>
#include <sys/types.h>

// True when text holds a line feed or carriage return, which would split a line-based file.
bool ZND_HasLineBreak(const char *text);
// Replaces a file that a tunnel service reads, atomically; logs and returns false on failure,
// leaving the file as it was.
bool ZND_WriteServiceFile(const char *path, const std::string &content, mode_t mode);
