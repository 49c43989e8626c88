// On the router the bus is ubus: messages are blobmsg attributes, the object, its type and its
// methods are libubus's own records, and a reply is built in a blob_buf. The buffer also keeps the
// cookies of the containers it has open, so that ZND_BusClose needs no argument.
#pragma once
extern "C" {
#include <libubox/blobmsg.h>
#include <libubus.h>
}

typedef enum blobmsg_type ZND_BusType;
constexpr ZND_BusType ZND_BUS_UNSPEC = BLOBMSG_TYPE_UNSPEC;   // in a policy: any type
constexpr ZND_BusType ZND_BUS_NULL = BLOBMSG_TYPE_UNSPEC;
constexpr ZND_BusType ZND_BUS_STRING = BLOBMSG_TYPE_STRING;
constexpr ZND_BusType ZND_BUS_INT32 = BLOBMSG_TYPE_INT32;
constexpr ZND_BusType ZND_BUS_ARRAY = BLOBMSG_TYPE_ARRAY;
constexpr ZND_BusType ZND_BUS_TABLE = BLOBMSG_TYPE_TABLE;
constexpr ZND_BusType ZND_BUS_BOOL = BLOBMSG_TYPE_BOOL;
constexpr ZND_BusType ZND_BUS_INT64 = BLOBMSG_TYPE_INT64;
constexpr ZND_BusType ZND_BUS_DOUBLE = BLOBMSG_TYPE_DOUBLE;

typedef struct blob_attr ZND_BusMsg;
typedef struct blobmsg_policy ZND_BusPolicy;
typedef struct ubus_context ZND_BusContext;
typedef struct ubus_request_data ZND_BusRequest;
typedef struct ubus_object ZND_BusObject;
typedef struct ubus_object_type ZND_BusObjectType;
typedef struct ubus_method ZND_BusMethod;
typedef ubus_handler_t ZND_BusHandler;

constexpr int ZND_BUS_MAX_DEPTH = 16;

// Zeroed when declared: blob_buf_init keeps the memory of a buffer it was given before, and takes
// whatever it finds in one that was never initialised for that memory.
struct ZND_BusBuf {
    struct blob_buf buf = {};
    void *open[ZND_BUS_MAX_DEPTH] = {};
    int depth = 0;
};

#define ZND_BUS_METHOD(name, handler, policy) UBUS_METHOD(name, handler, policy)
#define ZND_BUS_METHOD_NOARG(name, handler) UBUS_METHOD_NOARG(name, handler)
#define ZND_BUS_OBJECT_TYPE(name, methods) UBUS_OBJECT_TYPE(name, methods)
