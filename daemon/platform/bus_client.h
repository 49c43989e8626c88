// Client side of the control bus: call a method of an object and wait for its answer.
// Used by the command-line tool and by tests; the daemon itself only serves.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// A reply as a tree: tables keep their members in order, with their
// names (a member without a name has an empty one, and a name may come twice).
struct ZND_BusReplyValue {
    enum Kind { NONE, STRING, NUMBER, BOOL, DOUBLE, TABLE, ARRAY } kind = NONE;
    std::string name;
    std::string text;      // STRING
    int64_t number = 0;    // NUMBER, BOOL
    double dbl = 0;        // DOUBLE
    std::vector<ZND_BusReplyValue> members;   // TABLE, ARRAY

    // The last member of that name (the one a reader of the printed reply sees), or nullptr.
    const ZND_BusReplyValue *Find(const char *member) const;
    // The text of a string member, or "" when there is none.
    std::string Text(const char *member) const;
};

// Calls object.method with the JSON object text json on the bus at path (nullptr: the default
// socket), waiting at most timeout_ms (<= 0: no limit). Returns the ZND_BUS_STATUS_* of the call:
// the handler's own status, or NOT_FOUND / METHOD_NOT_FOUND, PARSE_ERROR when json is not a JSON
// object, CONNECTION_FAILED when nobody serves the bus, TIMEOUT, NO_DATA when the server went away
// without answering. *replied tells whether the handler sent a reply; *reply is then its text as
// the router's bus client prints it (indented with tabs, no final newline).
int ZND_BusClientCall(const char *path, const char *object, const char *method, const char *json,
                      int timeout_ms, std::string *reply, bool *replied);

// The same call, the reply as a tree, and also as text when text is not nullptr.
int ZND_BusClientCallValue(const char *path, const char *object, const char *method, const char *json,
                           int timeout_ms, ZND_BusReplyValue *reply, std::string *text, bool *replied);

// Paths of the objects registered on the bus.
int ZND_BusClientList(const char *path, int timeout_ms, std::vector<std::string> *names);
