// Checks and file writes shared by the tunnel drivers. Node addresses come from the cloud and
// credentials from the user: they are checked before anything is configured, and the files that
// carry them are written directly, never through a shell.
#pragma once
#include <string>
#include <sys/types.h>

// A dotted-decimal IPv4 address and nothing else.
bool ZND_IsDottedIpv4(const char *text);
// A name that can be a network device: 1..15 characters of [A-Za-z0-9._-], no leading '-'.
bool ZND_IsSafeIfName(const char *name);
// True when text holds a line feed or carriage return, which would split a line-based file.
bool ZND_HasLineBreak(const char *text);

// Replaces the file at path by content: written to a temporary file in the same directory with
// the given mode, synced, then renamed over path, so that readers see the old or the new file
// and never a part. False (logged) on any failure; path is then left as it was.
bool ZND_ReplaceFile(const char *path, const std::string &content, mode_t mode);
// Reads the whole file; false when it cannot be read.
bool ZND_ReadFile(const char *path, std::string *content, mode_t *mode);
