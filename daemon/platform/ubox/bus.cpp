// The bus on the router: ubus through libubus. Messages are blobmsg, replies are built in a
// blob_buf, and a connection that ubusd drops is made again in the background, the way netifd
// does it, with the objects added again by libubus.
#include "platform/bus.h"

#include <cstdlib>
#include <cstring>
#include "platform/syslog.h"

// Where ubusd listens unless told otherwise; libubus is always handed nullptr for it.
const char ZND_BUS_DEFAULT_SOCKET[] = "/var/run/ubus/ubus.sock";

namespace {

// How often a lost connection is tried again.
constexpr int kReconnectMs = 500;

// A connection and what it needs to be made again (plain data: it is found from its members).
struct Connection {
    struct ubus_context ctx;   // what the domain holds as ZND_BusContext
    struct uloop_timeout retry;
    char *path;                // nullptr: the default socket
    bool lost;
};

Connection *connection_of(struct ubus_context *ctx)
{
    return container_of(ctx, Connection, ctx);
}

void reconnect(struct uloop_timeout *t)
{
    Connection *c = container_of(t, Connection, retry);
    if (ubus_reconnect(&c->ctx, c->path) != 0) {
        // A failed attempt may leave the number of a descriptor it closed behind; the next one
        // would close it again.
        c->ctx.sock.fd = -1;
        uloop_timeout_set(&c->retry, kReconnectMs);
        return;
    }
    ubus_add_uloop(&c->ctx);
    c->lost = false;
    ZND_PLATFORM_INFO("ubus reconnected, objects added again");
}

void connection_lost(struct ubus_context *ctx)
{
    Connection *c = connection_of(ctx);
    if (c->lost)
        return;
    c->lost = true;
    ZND_PLATFORM_ERROR("ubus connection lost, reconnecting");
    // The socket is at its end: stop watching it, or the loop would be woken again and again.
    if (ctx->sock.registered)
        uloop_fd_delete(&ctx->sock);
    uloop_timeout_set(&c->retry, 0);
}

} // namespace

void ZND_BusBufInit(ZND_BusBuf *b)
{
    blob_buf_init(&b->buf, 0);
    b->depth = 0;
}

void ZND_BusBufFree(ZND_BusBuf *b)
{
    blob_buf_free(&b->buf);
    b->depth = 0;
}

void ZND_BusAddString(ZND_BusBuf *b, const char *name, const char *value)
{
    blobmsg_add_string(&b->buf, name, value ? value : "");
}

void ZND_BusAddInt32(ZND_BusBuf *b, const char *name, int32_t value)
{
    blobmsg_add_u32(&b->buf, name, (uint32_t)value);
}

void ZND_BusAddNull(ZND_BusBuf *b, const char *name)
{
    blobmsg_add_field(&b->buf, BLOBMSG_TYPE_UNSPEC, name, nullptr, 0);
}

void ZND_BusOpenTable(ZND_BusBuf *b, const char *name)
{
    // Deeper than the cookies kept: the members go into the container that is open.
    if (b->depth < ZND_BUS_MAX_DEPTH)
        b->open[b->depth++] = blobmsg_open_table(&b->buf, name);
}

void ZND_BusOpenArray(ZND_BusBuf *b, const char *name)
{
    if (b->depth < ZND_BUS_MAX_DEPTH)
        b->open[b->depth++] = blobmsg_open_array(&b->buf, name);
}

void ZND_BusClose(ZND_BusBuf *b)
{
    if (b->depth > 0)
        blob_nest_end(&b->buf, b->open[--b->depth]);
}

ZND_BusMsg *ZND_BusBufMsg(ZND_BusBuf *b)
{
    return b->buf.head;
}

void ZND_BusAddTable(ZND_BusBuf *b, const char *name, ZND_BusMsg *msg)
{
    blobmsg_add_field(&b->buf, BLOBMSG_TYPE_TABLE, name, msg ? blob_data(msg) : nullptr, msg ? blob_len(msg) : 0);
}

int ZND_BusParse(const ZND_BusPolicy *policy, int n, ZND_BusMsg **tb, ZND_BusMsg *msg)
{
    if (!msg) {
        for (int i = 0; i < n; i++)
            tb[i] = nullptr;
        return -1;
    }
    return blobmsg_parse(policy, n, tb, blob_data(msg), blob_len(msg)) == 0 ? 0 : -1;
}

int ZND_BusParseArray(const ZND_BusPolicy *policy, int n, ZND_BusMsg **tb, ZND_BusMsg *arr)
{
    if (!arr || blobmsg_type(arr) != BLOBMSG_TYPE_ARRAY) {
        for (int i = 0; i < n; i++)
            tb[i] = nullptr;
        return -1;
    }
    return blobmsg_parse_array(policy, n, tb, blobmsg_data(arr), blobmsg_data_len(arr)) == 0 ? 0 : -1;
}

const char *ZND_BusGetString(ZND_BusMsg *v)
{
    return blobmsg_get_string(v);
}

int32_t ZND_BusGetInt32(ZND_BusMsg *v)
{
    return (int32_t)blobmsg_get_u32(v);
}

ZND_BusContext *ZND_BusConnect(const char *path)
{
    auto *c = static_cast<Connection *>(calloc(1, sizeof(Connection)));
    if (!c)
        return nullptr;
    if ((path && !(c->path = strdup(path))) || ubus_connect_ctx(&c->ctx, path) != 0) {
        free(c->path);
        free(c);
        return nullptr;
    }
    c->ctx.connection_lost = connection_lost;
    c->retry.cb = reconnect;
    return &c->ctx;
}

void ZND_BusAddUloop(ZND_BusContext *ctx)
{
    if (ctx)
        ubus_add_uloop(ctx);
}

int ZND_BusAddObject(ZND_BusContext *ctx, ZND_BusObject *obj)
{
    if (!ctx || !obj)
        return ZND_BUS_STATUS_INVALID_ARGUMENT;
    return ubus_add_object(ctx, obj);
}

int ZND_BusSendReply(ZND_BusContext *ctx, ZND_BusRequest *req, ZND_BusMsg *msg)
{
    if (!ctx || !req || !msg)
        return ZND_BUS_STATUS_INVALID_ARGUMENT;
    return ubus_send_reply(ctx, req, msg);
}

void ZND_BusFree(ZND_BusContext *ctx)
{
    if (!ctx)
        return;
    Connection *c = connection_of(ctx);
    uloop_timeout_cancel(&c->retry);
    // Object types carry the id this bus daemon gave them; another connection registers them anew.
    struct ubus_object *obj;
    avl_for_each_element(&ctx->objects, obj, avl)
        if (obj->type)
            obj->type->id = 0;
    ubus_shutdown(ctx);
    free(c->path);
    free(c);
}

const char *ZND_BusStrError(int status)
{
    return ubus_strerror(status);
}
