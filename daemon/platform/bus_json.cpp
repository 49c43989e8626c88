// JSON text of bus values (as the command-line bus client prints replies) and bus values from
// JSON text (the message argument of a call).
#include "platform/bus.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <json-c/json.h>

namespace {

void put_string(std::string *out, const std::string &s)
{
    out->push_back('"');
    for (unsigned char c : s) {
        switch (c) {
        case '"': *out += "\\\""; break;
        case '\\': *out += "\\\\"; break;
        case '\b': *out += "\\b"; break;
        case '\f': *out += "\\f"; break;
        case '\n': *out += "\\n"; break;
        case '\r': *out += "\\r"; break;
        case '\t': *out += "\\t"; break;
        default:
            if (c < 0x20) {
                char esc[8];
                snprintf(esc, sizeof esc, "\\u%04x", c);
                *out += esc;
            } else {
                out->push_back((char)c);
            }
        }
    }
    out->push_back('"');
}

void put_double(std::string *out, double d)
{
    // JSON has no NaN or infinity.
    if (!std::isfinite(d)) {
        *out += "null";
        return;
    }
    // Shortest text that reads back as the same number, still recognisable as a fraction.
    char buf[40];
    for (int prec = 15; prec <= 17; prec++) {
        snprintf(buf, sizeof buf, "%.*g", prec, d);
        if (strtod(buf, nullptr) == d)
            break;
    }
    *out += buf;
    if (!strpbrk(buf, ".eE"))
        *out += ".0";
}

void put_indent(std::string *out, int depth)
{
    out->append((size_t)depth, '\t');
}

void put_value(std::string *out, const ZND_BusValue &v, bool indent, int depth);

void put_container(std::string *out, const ZND_BusValue &v, bool indent, int depth)
{
    bool table = v.type == ZND_BUS_TABLE;
    char open = table ? '{' : '[';
    char close = table ? '}' : ']';
    if (v.items.empty()) {
        out->push_back(open);
        if (indent)
            out->push_back(' ');
        out->push_back(close);
        return;
    }
    out->push_back(open);
    bool first = true;
    for (const auto &item : v.items) {
        if (!first)
            out->push_back(',');
        first = false;
        if (indent) {
            out->push_back('\n');
            put_indent(out, depth + 1);
        }
        if (table) {
            put_string(out, item.name);
            *out += indent ? ": " : ":";
        }
        put_value(out, item, indent, depth + 1);
    }
    if (indent) {
        out->push_back('\n');
        put_indent(out, depth);
    }
    out->push_back(close);
}

void put_value(std::string *out, const ZND_BusValue &v, bool indent, int depth)
{
    char buf[32];
    switch (v.type) {
    case ZND_BUS_STRING:
        put_string(out, v.str);
        break;
    case ZND_BUS_INT32:
        snprintf(buf, sizeof buf, "%" PRId32, (int32_t)v.num);
        *out += buf;
        break;
    case ZND_BUS_INT64:
        snprintf(buf, sizeof buf, "%" PRId64, v.num);
        *out += buf;
        break;
    case ZND_BUS_BOOL:
        *out += v.num ? "true" : "false";
        break;
    case ZND_BUS_DOUBLE:
        put_double(out, v.dbl);
        break;
    case ZND_BUS_TABLE:
    case ZND_BUS_ARRAY:
        put_container(out, v, indent, depth);
        break;
    default:
        *out += "null";
        break;
    }
}

void from_json(json_object *obj, ZND_BusValue *out);

void from_json_container(json_object *obj, ZND_BusValue *out)
{
    if (json_object_is_type(obj, json_type_object)) {
        out->type = ZND_BUS_TABLE;
        json_object_object_foreach(obj, key, member) {
            out->items.emplace_back();
            from_json(member, &out->items.back());
            out->items.back().name = key;
        }
        return;
    }
    out->type = ZND_BUS_ARRAY;
    size_t n = json_object_array_length(obj);
    out->items.resize(n);
    for (size_t i = 0; i < n; i++)
        from_json(json_object_array_get_idx(obj, i), &out->items[i]);
}

void from_json(json_object *obj, ZND_BusValue *out)
{
    *out = ZND_BusValue{};
    switch (json_object_get_type(obj)) {
    case json_type_object:
    case json_type_array:
        from_json_container(obj, out);
        break;
    case json_type_string:
        out->type = ZND_BUS_STRING;
        out->str.assign(json_object_get_string(obj), (size_t)json_object_get_string_len(obj));
        break;
    case json_type_int:
        out->num = json_object_get_int64(obj);
        out->type = (out->num >= INT32_MIN && out->num <= INT32_MAX) ? ZND_BUS_INT32 : ZND_BUS_INT64;
        // Beyond the signed 64-bit range: keep the magnitude rather than a clamped value.
        if (out->num == INT64_MAX && json_object_get_uint64(obj) > (uint64_t)INT64_MAX) {
            out->type = ZND_BUS_DOUBLE;
            out->dbl = (double)json_object_get_uint64(obj);
            out->num = 0;
        }
        break;
    case json_type_boolean:
        out->type = ZND_BUS_BOOL;
        out->num = json_object_get_boolean(obj) ? 1 : 0;
        break;
    case json_type_double:
        out->type = ZND_BUS_DOUBLE;
        out->dbl = json_object_get_double(obj);
        break;
    default:
        out->type = ZND_BUS_NULL;
        break;
    }
}

// The whole text must be one JSON value, optionally surrounded by white space.
json_object *parse_whole(const char *text)
{
    json_tokener *tok = json_tokener_new();
    if (!tok)
        return nullptr;
    size_t len = strlen(text);
    json_object *obj = len <= INT32_MAX ? json_tokener_parse_ex(tok, text, (int)len) : nullptr;
    if (obj && json_tokener_get_error(tok) == json_tokener_success) {
        for (size_t i = json_tokener_get_parse_end(tok); i < len; i++)
            if (!strchr(" \t\r\n", text[i])) {
                json_object_put(obj);
                obj = nullptr;
                break;
            }
    } else if (obj) {
        json_object_put(obj);
        obj = nullptr;
    }
    json_tokener_free(tok);
    return obj;
}

} // namespace

std::string ZND_BusToJson(const ZND_BusValue &v, bool indent)
{
    std::string out;
    put_value(&out, v, indent, 0);
    return out;
}

int ZND_BusFromJson(const char *text, ZND_BusValue *out)
{
    if (!text || !out)
        return -1;
    json_object *obj = parse_whole(text);
    if (!obj)
        return -1;
    int rc = -1;
    if (json_object_is_type(obj, json_type_object) || json_object_is_type(obj, json_type_array)) {
        from_json(obj, out);
        rc = 0;
    }
    json_object_put(obj);
    return rc;
}
