// Encoding and decoding of the host bus wire form (see bus_wire.h).
#include "platform/host/bus_wire.h"

#include <climits>
#include <cstring>
#include <json-c/json.h>

namespace {

// Every level of bus values takes two levels of JSON (the triple and its member list).
constexpr int kWireDepth = 160;

json_object *encode(const ZND_BusValue &v)
{
    json_object *j = json_object_new_array();
    json_object_array_add(j, json_object_new_int(v.type));
    json_object_array_add(j, json_object_new_string_len(v.name.data(), (int)v.name.size()));
    json_object *val = nullptr;
    switch (v.type) {
    case ZND_BUS_STRING:
        val = json_object_new_string_len(v.str.data(), (int)v.str.size());
        break;
    case ZND_BUS_INT32:
    case ZND_BUS_INT64:
        val = json_object_new_int64(v.num);
        break;
    case ZND_BUS_BOOL:
        val = json_object_new_boolean(v.num != 0);
        break;
    case ZND_BUS_DOUBLE:
        val = json_object_new_double(v.dbl);
        break;
    case ZND_BUS_TABLE:
    case ZND_BUS_ARRAY:
        val = json_object_new_array();
        for (const auto &item : v.items)
            json_object_array_add(val, encode(item));
        break;
    default:
        break;
    }
    json_object_array_add(j, val);
    return j;
}

bool decode(json_object *j, ZND_BusValue *out, bool array_member)
{
    *out = ZND_BusValue{};
    if (!json_object_is_type(j, json_type_array) || json_object_array_length(j) != 3)
        return false;
    json_object *jt = json_object_array_get_idx(j, 0);
    json_object *jn = json_object_array_get_idx(j, 1);
    json_object *jv = json_object_array_get_idx(j, 2);
    if (!json_object_is_type(jt, json_type_int) || !json_object_is_type(jn, json_type_string))
        return false;
    int64_t type = json_object_get_int64(jt);
    if (!array_member)
        out->name.assign(json_object_get_string(jn), (size_t)json_object_get_string_len(jn));
    switch (type) {
    case ZND_BUS_NULL:
        out->type = ZND_BUS_NULL;
        return jv == nullptr;
    case ZND_BUS_STRING:
        if (!json_object_is_type(jv, json_type_string))
            return false;
        out->type = ZND_BUS_STRING;
        out->str.assign(json_object_get_string(jv), (size_t)json_object_get_string_len(jv));
        return true;
    case ZND_BUS_INT32:
    case ZND_BUS_INT64:
        if (!json_object_is_type(jv, json_type_int))
            return false;
        out->type = (ZND_BusType)type;
        out->num = json_object_get_int64(jv);
        return type == ZND_BUS_INT64 || (out->num >= INT32_MIN && out->num <= INT32_MAX);
    case ZND_BUS_BOOL:
        if (!json_object_is_type(jv, json_type_boolean))
            return false;
        out->type = ZND_BUS_BOOL;
        out->num = json_object_get_boolean(jv) ? 1 : 0;
        return true;
    case ZND_BUS_DOUBLE:
        if (!json_object_is_type(jv, json_type_double) && !json_object_is_type(jv, json_type_int))
            return false;
        out->type = ZND_BUS_DOUBLE;
        out->dbl = json_object_get_double(jv);
        return true;
    case ZND_BUS_TABLE:
    case ZND_BUS_ARRAY: {
        if (!json_object_is_type(jv, json_type_array))
            return false;
        out->type = (ZND_BusType)type;
        size_t n = json_object_array_length(jv);
        out->items.resize(n);
        for (size_t i = 0; i < n; i++)
            if (!decode(json_object_array_get_idx(jv, i), &out->items[i], type == ZND_BUS_ARRAY))
                return false;
        return true;
    }
    default:
        return false;
    }
}

std::string to_line(json_object *j)
{
    // Plain output escapes every control character, so the text holds no newline of its own.
    std::string line = json_object_to_json_string_ext(j, JSON_C_TO_STRING_PLAIN | JSON_C_TO_STRING_NOSLASHESCAPE);
    json_object_put(j);
    line.push_back('\n');
    return line;
}

// One JSON array making up the whole text; nullptr otherwise. The caller releases it.
json_object *parse_array(const char *text, size_t len)
{
    if (len > INT_MAX)
        return nullptr;
    json_tokener *tok = json_tokener_new_ex(kWireDepth);
    if (!tok)
        return nullptr;
    json_object *j = json_tokener_parse_ex(tok, text, (int)len);
    bool whole = j && json_tokener_get_error(tok) == json_tokener_success;
    for (size_t i = whole ? json_tokener_get_parse_end(tok) : len; i < len; i++)
        if (!strchr(" \t\r", text[i]) || text[i] == '\0')
            whole = false;
    json_tokener_free(tok);
    if (!whole || !json_object_is_type(j, json_type_array)) {
        json_object_put(j);
        return nullptr;
    }
    return j;
}

bool get_string(json_object *arr, size_t idx, std::string *out)
{
    json_object *s = json_object_array_get_idx(arr, idx);
    if (!json_object_is_type(s, json_type_string))
        return false;
    out->assign(json_object_get_string(s), (size_t)json_object_get_string_len(s));
    return true;
}

} // namespace

std::string ZND_BusWireCallLine(const char *object, const char *method, const ZND_BusValue &msg)
{
    json_object *j = json_object_new_array();
    json_object_array_add(j, json_object_new_string("call"));
    json_object_array_add(j, json_object_new_string(object ? object : ""));
    json_object_array_add(j, json_object_new_string(method ? method : ""));
    json_object_array_add(j, encode(msg));
    return to_line(j);
}

std::string ZND_BusWireListLine()
{
    json_object *j = json_object_new_array();
    json_object_array_add(j, json_object_new_string("list"));
    return to_line(j);
}

std::string ZND_BusWireAnswerLine(int status, const ZND_BusValue *reply)
{
    json_object *j = json_object_new_array();
    json_object_array_add(j, json_object_new_int(status));
    json_object_array_add(j, reply ? encode(*reply) : nullptr);
    return to_line(j);
}

bool ZND_BusWireParseRequest(const char *text, size_t len, ZND_BusWireRequest *req)
{
    json_object *j = parse_array(text, len);
    if (!j)
        return false;
    *req = ZND_BusWireRequest{};
    size_t n = json_object_array_length(j);
    bool ok = n >= 1 && get_string(j, 0, &req->op);
    if (ok && req->op == "call")
        ok = n == 4 && get_string(j, 1, &req->object) && get_string(j, 2, &req->method) &&
             decode(json_object_array_get_idx(j, 3), &req->msg, false);
    else if (ok)
        ok = n == 1;
    json_object_put(j);
    return ok;
}

bool ZND_BusWireParseAnswer(const char *text, size_t len, int *status, ZND_BusValue *reply, bool *has_reply)
{
    json_object *j = parse_array(text, len);
    if (!j)
        return false;
    bool ok = false;
    json_object *js = json_object_array_get_idx(j, 0);
    json_object *jr = json_object_array_get_idx(j, 1);
    if (json_object_array_length(j) == 2 && json_object_is_type(js, json_type_int)) {
        int64_t s = json_object_get_int64(js);
        ok = s >= INT_MIN && s <= INT_MAX;
        *status = (int)s;
        *has_reply = jr != nullptr;
        *reply = ZND_BusValue{};
        if (ok && jr)
            ok = decode(jr, reply, false);
    }
    json_object_put(j);
    return ok;
}
