// Client side of the control bus: call a method of an object and wait for its answer.
// Used by the command-line tool and by tests; the daemon itself only serves.
#pragma once
#include <string>
#include <vector>
#include "platform/bus.h"

// Calls object.method with msg (a table) on the bus at path (nullptr: ZND_BUS_DEFAULT_SOCKET),
// waiting at most timeout_ms (<= 0: no limit). Returns the ZND_BUS_STATUS_* of the call:
// the handler's own status, or NOT_FOUND / METHOD_NOT_FOUND, CONNECTION_FAILED when nobody
// serves the bus, TIMEOUT, NO_DATA when the server went away without answering.
// *replied tells whether the handler sent a reply; the reply is then in *reply.
int ZND_BusClientCall(const char *path, const char *object, const char *method, const ZND_BusValue &msg,
                      int timeout_ms, ZND_BusValue *reply, bool *replied);

// Names of the objects registered on the bus, in the order they were added.
int ZND_BusClientList(const char *path, int timeout_ms, std::vector<std::string> *names);
