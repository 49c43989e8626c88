// Configuration store in the UCI model: packages of sections of options, addressed as
// "package.section.option", through libuci. It reads and commits the package files only: changes
// that another UCI user has staged but not committed are neither seen nor committed by the daemon.
#pragma once
#include <string>
#include <vector>

enum {
    ZND_UCI_COMPLETE = 0,       // package, section and option exist
    ZND_UCI_INCOMPLETE = 1,     // package loaded, but the section or the option does not exist
    ZND_UCI_LOOKUP_FAILED = -1, // malformed address, or the package cannot be loaded
};

// Looks up an option; on ZND_UCI_COMPLETE *value holds its text. A list has no text value: it
// counts as missing.
int ZND_UciGet(const char *address, std::string *value);
// Looks up an option or a list; on ZND_UCI_COMPLETE *values holds the option's text, or the list's
// items in their order.
int ZND_UciGetValues(const char *address, std::vector<std::string> *values);
// Sets an option of an existing named section (creating the option, or replacing a list of that
// name) and commits the package at once; as with the uci tool, an empty value removes the option.
// The commit takes the lock libuci's writers take, never undoes a change another writer committed
// meanwhile, and never leaves the package cut (a kill at any moment leaves the old or the new text);
// the value is then read back, and set again when another writer replaced the package with older
// text. Returns ZND_UCI_LOOKUP_FAILED when the address cannot be resolved, 0 when the value is
// committed and reads back, 1 when it could not be made to hold (no such section, a write failed,
// no space). A commit that fails leaves the package file as it was.
int ZND_UciSet(const char *address, const char *value);

// The address form.
struct ZND_UciAddress {
    std::string package, section, option;
};
// Exactly "package.section.option", each part one or more of [A-Za-z0-9_]: no extended syntax,
// no value. False for anything else.
bool ZND_UciSplitAddress(const char *address, ZND_UciAddress *out);

// Directory of the package files (default "/etc/config"); tests point it elsewhere.
void ZND_UciSetConfDir(const char *dir);
const char *ZND_UciConfDir();
