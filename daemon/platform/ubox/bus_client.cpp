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
    ZND_BusReplyValue *value;
    bool *replied;
};

void to_reply_value(struct blob_attr *attr, ZND_BusReplyValue *out)
{
    out->name = blobmsg_name(attr);
    switch (blobmsg_type(attr)) {
    case BLOBMSG_TYPE_STRING:
        out->kind = ZND_BusReplyValue::STRING;
        out->text = blobmsg_get_string(attr);
        break;
    case BLOBMSG_TYPE_INT8:
        out->kind = ZND_BusReplyValue::BOOL;
        out->number = blobmsg_get_u8(attr);
        break;
    case BLOBMSG_TYPE_INT16:
        out->kind = ZND_BusReplyValue::NUMBER;
        out->number = (int16_t)blobmsg_get_u16(attr);
        break;
    case BLOBMSG_TYPE_INT32:
        out->kind = ZND_BusReplyValue::NUMBER;
        out->number = (int32_t)blobmsg_get_u32(attr);
        break;
    case BLOBMSG_TYPE_INT64:
        out->kind = ZND_BusReplyValue::NUMBER;
        out->number = (int64_t)blobmsg_get_u64(attr);
        break;
    case BLOBMSG_TYPE_DOUBLE:
        out->kind = ZND_BusReplyValue::DOUBLE;
        out->dbl = blobmsg_get_double(attr);
        break;
    case BLOBMSG_TYPE_TABLE:
    case BLOBMSG_TYPE_ARRAY: {
        out->kind = blobmsg_type(attr) == BLOBMSG_TYPE_TABLE ? ZND_BusReplyValue::TABLE : ZND_BusReplyValue::ARRAY;
        struct blob_attr *cur;
        size_t rem;
        blobmsg_for_each_attr(cur, attr, rem) {
            out->members.emplace_back();
            to_reply_value(cur, &out->members.back());
        }
        break;
    }
    default:
        out->kind = ZND_BusReplyValue::NONE;
        break;
    }
}

void on_reply(struct ubus_request *req, int, struct blob_attr *msg)
{
    auto *r = static_cast<CallReply *>(req->priv);
    if (!msg)
        return;
    if (r->value) {
        // The message is the reply's table, its members at the top level.
        *r->value = ZND_BusReplyValue{};
        r->value->kind = ZND_BusReplyValue::TABLE;
        struct blob_attr *cur;
        size_t rem;
        blob_for_each_attr(cur, msg, rem) {
            r->value->members.emplace_back();
            to_reply_value(cur, &r->value->members.back());
        }
    }
    if (!r->text) {
        *r->replied = true;
        return;
    }
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

int call(const char *path, const char *object, const char *method, const char *json, int timeout_ms,
         CallReply *r)
{
    *r->replied = false;
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
    uint32_t id;
    int status = ubus_lookup_id(ctx, object, &id);
    if (status == UBUS_STATUS_OK)
        status = ubus_invoke(ctx, id, method, b.head, on_reply, r, timeout_ms > 0 ? timeout_ms : 0);
    ubus_free(ctx);
    blob_buf_free(&b);
    return status;
}

} // namespace

int ZND_BusClientCall(const char *path, const char *object, const char *method, const char *json,
                      int timeout_ms, std::string *reply, bool *replied)
{
    reply->clear();
    CallReply r = {reply, nullptr, replied};
    return call(path, object, method, json, timeout_ms, &r);
}

int ZND_BusClientCallValue(const char *path, const char *object, const char *method, const char *json,
                           int timeout_ms, ZND_BusReplyValue *reply, std::string *text, bool *replied)
{
    *reply = ZND_BusReplyValue{};
    if (text)
        text->clear();
    CallReply r = {text, reply, replied};
    return call(path, object, method, json, timeout_ms, &r);
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
