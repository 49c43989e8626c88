// The control bus: typed messages, a message builder, policy parsing, and the transport on which
// the daemon registers an object with named methods and answers requests synchronously.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

enum ZND_BusType {
    ZND_BUS_UNSPEC = 0,   // in a policy: any type
    ZND_BUS_NULL,
    ZND_BUS_STRING,
    ZND_BUS_INT32,
    ZND_BUS_ARRAY,
    ZND_BUS_TABLE,
    ZND_BUS_BOOL,
    ZND_BUS_INT64,
    ZND_BUS_DOUBLE,
};

// One typed value. Tables keep their members in order and may hold one name twice;
// members of arrays have empty names.
struct ZND_BusValue {
    ZND_BusType type = ZND_BUS_NULL;
    std::string name;
    std::string str;       // ZND_BUS_STRING
    int64_t num = 0;       // ZND_BUS_INT32, ZND_BUS_INT64, ZND_BUS_BOOL
    double dbl = 0;        // ZND_BUS_DOUBLE
    std::vector<ZND_BusValue> items;   // ZND_BUS_ARRAY, ZND_BUS_TABLE
};

// Message builder: a table under construction with a stack of open containers.
struct ZND_BusBuf {
    ZND_BusValue root;
    std::vector<size_t> open;   // path of indexes from root to the innermost open container
};

void ZND_BusBufInit(ZND_BusBuf *b);   // empty table, nothing open
void ZND_BusBufFree(ZND_BusBuf *b);
void ZND_BusAddString(ZND_BusBuf *b, const char *name, const char *value);
void ZND_BusAddInt32(ZND_BusBuf *b, const char *name, int32_t value);
void ZND_BusAddNull(ZND_BusBuf *b, const char *name);
void ZND_BusOpenTable(ZND_BusBuf *b, const char *name);
void ZND_BusOpenArray(ZND_BusBuf *b, const char *name);
void ZND_BusClose(ZND_BusBuf *b);
// Adds a table (or array) named name holding copies of the members of src.
void ZND_BusAddContainer(ZND_BusBuf *b, const char *name, ZND_BusType type, const ZND_BusValue &src);

struct ZND_BusPolicy {
    const char *name;   // unused for array policies
    ZND_BusType type;
};

// Named policy over a table: tb[i] = the last member named policy[i].name whose type matches
// (a member of another type counts as absent). Returns 0, or -1 when msg is not a table.
int ZND_BusParse(const ZND_BusPolicy *policy, int n, const ZND_BusValue **tb, const ZND_BusValue &msg);
// Array policy: members whose type matches fill the slots in order, others are skipped,
// members after the last slot is filled are ignored. Returns 0, or -1 when arr is not an array.
int ZND_BusParseArray(const ZND_BusPolicy *policy, int n, const ZND_BusValue **tb, const ZND_BusValue &arr);

// JSON text of a value, rendered the way the router's bus client prints it: with indent,
// one member per line, tab indentation, "key": value; keys in order and duplicates kept.
std::string ZND_BusToJson(const ZND_BusValue &v, bool indent);
// Parses JSON text into a table or array (integers that fit 32 bits become ZND_BUS_INT32).
// Returns 0, or -1 when the text is not a JSON object or array.
int ZND_BusFromJson(const char *text, ZND_BusValue *out);

// Transport.
struct ZND_BusContext;
struct ZND_BusRequest;
struct ZND_BusObject;

typedef int (*ZND_BusHandler)(ZND_BusContext *ctx, ZND_BusObject *obj, ZND_BusRequest *req,
                              const char *method, const ZND_BusValue *msg);

struct ZND_BusMethod {
    const char *name;
    ZND_BusHandler handler;
};

struct ZND_BusObject {
    const char *name;
    const char *type_name;
    const ZND_BusMethod *methods;
    int n_methods;
};

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
};

extern const char ZND_BUS_DEFAULT_SOCKET[];   // host backend: "/var/run/zunaro-bus.sock"

// Connects to the bus (nullptr: the default socket); nullptr on failure.
ZND_BusContext *ZND_BusConnect(const char *path);
// Registers the connection with the event loop so that requests are served by ZND_LoopRun.
void ZND_BusAddUloop(ZND_BusContext *ctx);
// Adds an object; returns a ZND_BUS_STATUS_* code.
int ZND_BusAddObject(ZND_BusContext *ctx, ZND_BusObject *obj);
// Sends the reply of a request (at most once per request, from inside its handler).
int ZND_BusSendReply(ZND_BusContext *ctx, ZND_BusRequest *req, const ZND_BusValue &msg);
void ZND_BusFree(ZND_BusContext *ctx);
const char *ZND_BusStrError(int status);
