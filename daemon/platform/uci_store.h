// Configuration store in the UCI model: packages of sections of options, addressed as
// "package.section.option". The host backend reads and writes the UCI text files.
#pragma once
#include <string>

enum {
    ZND_UCI_COMPLETE = 0,       // package, section and option exist
    ZND_UCI_INCOMPLETE = 1,     // package loaded, but the section or the option does not exist
    ZND_UCI_LOOKUP_FAILED = -1, // malformed address, or the package cannot be loaded
};

// Looks up an option; on ZND_UCI_COMPLETE *value holds its text.
int ZND_UciGet(const char *address, std::string *value);
// Sets an option of an existing section (creating the option) and commits the package at once.
// Returns ZND_UCI_LOOKUP_FAILED when the address cannot be resolved, 0 when the value is set and
// committed, 1 when the set or the commit failed.
int ZND_UciSet(const char *address, const char *value);

// Directory of the package files (host backend; default "/etc/config").
void ZND_UciSetConfDir(const char *dir);
const char *ZND_UciConfDir();
