// Records of the host bus: messages are trees of typed values, built in a buffer with a stack of
// open containers. Objects, object types and methods are laid out like the router's so that the
// domain declares them the same way on both backends.
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

// A message, or one of its members, as handlers and parsers see it.
typedef const ZND_BusValue ZND_BusMsg;

// Message builder: a table under construction with a stack of open containers.
struct ZND_BusBuf {
    ZND_BusValue root;
    std::vector<size_t> open;   // path of indexes from root to the innermost open container
};

struct ZND_BusPolicy {
    const char *name;   // unused for array policies
    ZND_BusType type;
};

struct ZND_BusContext;
struct ZND_BusRequest;
struct ZND_BusObject;

typedef int (*ZND_BusHandler)(ZND_BusContext *ctx, ZND_BusObject *obj, ZND_BusRequest *req,
                              const char *method, ZND_BusMsg *msg);

struct ZND_BusMethod {
    const char *name;
    ZND_BusHandler handler;
    const ZND_BusPolicy *policy;   // what the method reads, for clients that ask
    int n_policy;
};

struct ZND_BusObjectType {
    const char *name;
    const ZND_BusMethod *methods;
    int n_methods;
};

struct ZND_BusObject {
    const char *name;
    ZND_BusObjectType *type;
    const ZND_BusMethod *methods;
    int n_methods;
};

#define ZND_BUS_ARRAY_SIZE(a) ((int)(sizeof(a) / sizeof((a)[0])))
#define ZND_BUS_METHOD(name, handler, policy) {name, handler, policy, ZND_BUS_ARRAY_SIZE(policy)}
#define ZND_BUS_METHOD_NOARG(name, handler) {name, handler, nullptr, 0}
#define ZND_BUS_OBJECT_TYPE(name, methods) {name, methods, ZND_BUS_ARRAY_SIZE(methods)}

// Host extras: JSON text of values as the router's bus client prints replies (with indent, one
// member per line, tab indentation, "key": value; keys in order and duplicates kept), and values
// from JSON text (integers that fit 32 bits become ZND_BUS_INT32; -1 unless a JSON object or
// array).
std::string ZND_BusToJson(const ZND_BusValue &v, bool indent);
int ZND_BusFromJson(const char *text, ZND_BusValue *out);
