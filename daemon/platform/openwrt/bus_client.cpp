// Client of ubus through libubus: the message is read from JSON and the replies are printed the
// way the ubus command-line tool reads and prints them, with libubox's own converters.
#include "platform/bus_client.h"

#include <cstdlib>
#include "platform/bus.h"

extern "C" {
#include <libubox/blobmsg_json.h>
}

namespace {

struct CallReply {
    std::string *text;
    bool *replied;
};

void on_reply(struct ubus_request *req, int, struct blob_attr *msg)
{
    auto *r = static_cast<CallReply *>(req->priv);
    if (!msg)
        return;
    char *text = blobmsg_format_json_indent(msg, true, 0);
    if (!text)
        return;
    // Each reply is one text; the tool prints them one after the other.
    if (*r->replied)
        r->text->push_back('\n');
    r->text->append(text);
    *r->replied = true;
    free(text);
}

void on_object(struct ubus_context *, struct ubus_object_data *obj, void *priv)
{
    static_cast<std::vector<std::string> *>(priv)->push_back(obj->path);
}

} // namespace

int ZND_BusClientCall(const char *path, const char *object, const char *method, const char *json,
                      int timeout_ms, std::string *reply, bool *replied)
{
    *replied = false;
    reply->clear();
    struct blob_buf b = {};
    blob_buf_init(&b, 0);
    if (json && !blobmsg_add_json_from_string(&b, json)) {
        blob_buf_free(&b);
        return ZND_BUS_STATUS_PARSE_ERROR;
    }
    struct ubus_context *ctx = ubus_connect(path);
    if (!ctx) {
        blob_buf_free(&b);
        return ZND_BUS_STATUS_CONNECTION_FAILED;
    }
    CallReply r = {reply, replied};
    uint32_t id;
    int status = ubus_lookup_id(ctx, object, &id);
    if (status == UBUS_STATUS_OK)
        status = ubus_invoke(ctx, id, method, b.head, on_reply, &r, timeout_ms > 0 ? timeout_ms : 0);
    ubus_free(ctx);
    blob_buf_free(&b);
    return status;
}

int ZND_BusClientList(const char *path, int, std::vector<std::string> *names)
{
    names->clear();
    struct ubus_context *ctx = ubus_connect(path);
    if (!ctx)
        return ZND_BUS_STATUS_CONNECTION_FAILED;
    int status = ubus_lookup(ctx, nullptr, on_object, names);
    ubus_free(ctx);
    return status;
}
