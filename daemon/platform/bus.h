// The control bus: a message builder, policy parsing, and the transport on which the daemon
// registers an object with named methods and answers requests synchronously. The records
// (ZND_BusBuf, ZND_BusMsg, ZND_BusPolicy, ZND_BusMethod, ZND_BusObjectType, ZND_BusObject,
// ZND_BusContext, ZND_BusRequest), the ZND_BUS_* value types and the ZND_BUS_METHOD and
// ZND_BUS_OBJECT_TYPE initialisers are libubus's and libubox's own (platform/ubox/bus_types.h).
#pragma once
#include <cstdint>
#include "bus_types.h"

// Builder. A buffer starts as an empty table; containers opened in it are closed in reverse order.
// Init again reuses the memory of the message before; Free gives it back.
void ZND_BusBufInit(ZND_BusBuf *b);
void ZND_BusBufFree(ZND_BusBuf *b);
void ZND_BusAddString(ZND_BusBuf *b, const char *name, const char *value);
void ZND_BusAddInt32(ZND_BusBuf *b, const char *name, int32_t value);
void ZND_BusAddNull(ZND_BusBuf *b, const char *name);
void ZND_BusOpenTable(ZND_BusBuf *b, const char *name);
void ZND_BusOpenArray(ZND_BusBuf *b, const char *name);
void ZND_BusClose(ZND_BusBuf *b);
// The message built so far.
ZND_BusMsg *ZND_BusBufMsg(ZND_BusBuf *b);
// Adds a table named name holding copies of the members of msg, a message of another buffer.
void ZND_BusAddTable(ZND_BusBuf *b, const char *name, ZND_BusMsg *msg);

// Named policy over a message: tb[i] = the first member named policy[i].name whose type matches
// (a member of another type counts as absent). Returns 0, or -1 when the message is empty or not
// a table.
int ZND_BusParse(const ZND_BusPolicy *policy, int n, ZND_BusMsg **tb, ZND_BusMsg *msg);
// Array policy over an array member: members whose type matches fill the slots in order, others
// are skipped, members after the last slot is filled are ignored. Returns 0, or -1 when arr is not
// an array.
int ZND_BusParseArray(const ZND_BusPolicy *policy, int n, ZND_BusMsg **tb, ZND_BusMsg *arr);
// Values of members found by a policy of that type.
const char *ZND_BusGetString(ZND_BusMsg *v);
int32_t ZND_BusGetInt32(ZND_BusMsg *v);

// Statuses of bus calls (the numbers are the router's bus daemon's).
enum {
    ZND_BUS_STATUS_OK = 0,
    ZND_BUS_STATUS_INVALID_COMMAND = 1,
    ZND_BUS_STATUS_INVALID_ARGUMENT = 2,
    ZND_BUS_STATUS_METHOD_NOT_FOUND = 3,
    ZND_BUS_STATUS_NOT_FOUND = 4,
    ZND_BUS_STATUS_NO_DATA = 5,
    ZND_BUS_STATUS_PERMISSION_DENIED = 6,
    ZND_BUS_STATUS_TIMEOUT = 7,
    ZND_BUS_STATUS_NOT_SUPPORTED = 8,
    ZND_BUS_STATUS_UNKNOWN_ERROR = 9,
    ZND_BUS_STATUS_CONNECTION_FAILED = 10,
    ZND_BUS_STATUS_NO_MEMORY = 11,
    ZND_BUS_STATUS_PARSE_ERROR = 12,
    ZND_BUS_STATUS_SYSTEM_ERROR = 13,
};

// The socket of ubusd.
extern const char ZND_BUS_DEFAULT_SOCKET[];

// Connects to the bus (nullptr: the default socket); nullptr on failure. On the router a lost
// connection is made again in the background and the objects are added again.
ZND_BusContext *ZND_BusConnect(const char *path);
// Registers the connection with the event loop so that requests are served by ZND_LoopRun.
void ZND_BusAddUloop(ZND_BusContext *ctx);
// Adds an object; returns a ZND_BUS_STATUS_* code.
int ZND_BusAddObject(ZND_BusContext *ctx, ZND_BusObject *obj);
// Sends msg as the reply of a request (at most once per request, from inside its handler).
int ZND_BusSendReply(ZND_BusContext *ctx, ZND_BusRequest *req, ZND_BusMsg *msg);
void ZND_BusFree(ZND_BusContext *ctx);
const char *ZND_BusStrError(int status);
