// JSON text of bus values exactly as the router's command-line bus client prints replies, and
// bus values from JSON text the way it reads the message argument of a call.
#include "platform/bus.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <json-c/json.h>

namespace {

// The router's formatter: indentation stops growing after 16 levels.
constexpr int kMaxIndent = 16;

// Like the router's formatter, strings end at their first NUL.
void put_string(std::string *out, const std::string &s)
{
    out->push_back('"');
    for (unsigned char c : s) {
        if (c == '\0')
            break;
        switch (c) {
        case '"': *out += "\\\""; break;
        case '\\': *out += "\\\\"; break;
        case '\b': *out += "\\b"; break;
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

void put_separator(std::string *out, bool indent, int depth)
{
    if (!indent)
        return;
    out->push_back('\n');
    out->append((size_t)(depth > kMaxIndent ? kMaxIndent : depth), '\t');
}

void put_value(std::string *out, const ZND_BusValue &v, bool indent, int depth);

void put_container(std::string *out, const ZND_BusValue &v, bool indent, int depth)
{
    bool table = v.type == ZND_BUS_TABLE;
    out->push_back(table ? '{' : '[');
    put_separator(out, indent, depth + 1);
    bool first = true;
    for (const auto &item : v.items) {
        if (!first) {
            out->push_back(',');
            put_separator(out, indent, depth + 1);
        }
        first = false;
        // A member without a name is shown without its key, even in a table.
        if (table && !item.name.empty() && item.name[0] != '\0') {
            put_string(out, item.name);
            *out += indent ? ": " : ":";
        }
        put_value(out, item, indent, depth + 1);
    }
    put_separator(out, indent, depth);
    out->push_back(table ? '}' : ']');
}

void put_value(std::string *out, const ZND_BusValue &v, bool indent, int depth)
{
    char buf[320];
    switch (v.type) {
    case ZND_BUS_STRING:
        put_string(out, v.str);
        return;
    case ZND_BUS_INT32:
        snprintf(buf, sizeof buf, "%" PRId32, (int32_t)v.num);
        break;
    case ZND_BUS_INT64:
        snprintf(buf, sizeof buf, "%" PRId64, v.num);
        break;
    case ZND_BUS_BOOL:
        snprintf(buf, sizeof buf, "%s", v.num ? "true" : "false");
        break;
    case ZND_BUS_DOUBLE:
        snprintf(buf, sizeof buf, "%lf", v.dbl);
        break;
    case ZND_BUS_TABLE:
    case ZND_BUS_ARRAY:
        put_container(out, v, indent, depth);
        return;
    default:
        snprintf(buf, sizeof buf, "null");
        break;
    }
    *out += buf;
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
        // The router's converter takes strings up to their first NUL.
        out->type = ZND_BUS_STRING;
        out->str = json_object_get_string(obj);
        break;
    case json_type_int:
        // Beyond the signed 64-bit range the value is clamped, as on the router.
        out->num = json_object_get_int64(obj);
        out->type = (out->num >= INT32_MIN && out->num <= INT32_MAX) ? ZND_BUS_INT32 : ZND_BUS_INT64;
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
    // Parsed as the router's bus client parses a message: text after the first value is ignored.
    json_object *obj = json_tokener_parse(text);
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
