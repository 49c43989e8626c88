// Client side of the control bus: call a method of an object and wait for its answer.
// Used by the command-line tool and by tests; the daemon itself only serves.
#pragma once
#include <string>
#include <vector>

// Calls object.method with the JSON object text json on the bus at path (nullptr: the default
// socket), waiting at most timeout_ms (<= 0: no limit). Returns the ZND_BUS_STATUS_* of the call:
// the handler's own status, or NOT_FOUND / METHOD_NOT_FOUND, PARSE_ERROR when json is not a JSON
// object, CONNECTION_FAILED when nobody serves the bus, TIMEOUT, NO_DATA when the server went away
// without answering. *replied tells whether the handler sent a reply; *reply is then its text as
// the router's bus client prints it (indented with tabs, no final newline).
int ZND_BusClientCall(const char *path, const char *object, const char *method, const char *json,
                      int timeout_ms, std::string *reply, bool *replied);

// Paths of the objects registered on the bus.
int ZND_BusClientList(const char *path, int timeout_ms, std::vector<std::string> *names);
