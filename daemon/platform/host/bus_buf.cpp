// Message builder and policy parsing of the host bus's messages, with the router library's
// semantics.
#include "platform/bus.h"

namespace {

ZND_BusValue *innermost(ZND_BusBuf *b)
{
    ZND_BusValue *v = &b->root;
    for (size_t idx : b->open)
        v = &v->items[idx];
    return v;
}

ZND_BusValue &append(ZND_BusBuf *b, const char *name, ZND_BusType type)
{
    ZND_BusValue *parent = innermost(b);
    parent->items.emplace_back();
    ZND_BusValue &v = parent->items.back();
    v.type = type;
    // Members of arrays carry no name.
    if (name && parent->type != ZND_BUS_ARRAY)
        v.name = name;
    return v;
}

void open_container(ZND_BusBuf *b, const char *name, ZND_BusType type)
{
    append(b, name, type);
    b->open.push_back(innermost(b)->items.size() - 1);
}

} // namespace

void ZND_BusBufInit(ZND_BusBuf *b)
{
    b->root = ZND_BusValue{};
    b->root.type = ZND_BUS_TABLE;
    b->open.clear();
}

void ZND_BusBufFree(ZND_BusBuf *b)
{
    b->root = ZND_BusValue{};
    b->open.clear();
    b->open.shrink_to_fit();
}

void ZND_BusAddString(ZND_BusBuf *b, const char *name, const char *value)
{
    append(b, name, ZND_BUS_STRING).str = value ? value : "";
}

void ZND_BusAddInt32(ZND_BusBuf *b, const char *name, int32_t value)
{
    append(b, name, ZND_BUS_INT32).num = value;
}

void ZND_BusAddNull(ZND_BusBuf *b, const char *name)
{
    append(b, name, ZND_BUS_NULL);
}

void ZND_BusOpenTable(ZND_BusBuf *b, const char *name)
{
    open_container(b, name, ZND_BUS_TABLE);
}

void ZND_BusOpenArray(ZND_BusBuf *b, const char *name)
{
    open_container(b, name, ZND_BUS_ARRAY);
}

void ZND_BusClose(ZND_BusBuf *b)
{
    if (!b->open.empty())
        b->open.pop_back();
}

ZND_BusMsg *ZND_BusBufMsg(ZND_BusBuf *b)
{
    return &b->root;
}

void ZND_BusAddTable(ZND_BusBuf *b, const char *name, ZND_BusMsg *msg)
{
    // Copy first: msg may live in the same buffer, whose storage append() can move.
    std::vector<ZND_BusValue> items = msg ? msg->items : std::vector<ZND_BusValue>{};
    append(b, name, ZND_BUS_TABLE).items = std::move(items);
}

int ZND_BusParse(const ZND_BusPolicy *policy, int n, ZND_BusMsg **tb, ZND_BusMsg *msg)
{
    for (int i = 0; i < n; i++)
        tb[i] = nullptr;
    if (!msg || msg->type != ZND_BUS_TABLE || msg->items.empty())
        return -1;
    for (const auto &member : msg->items)
        for (int i = 0; i < n; i++)
            if (!tb[i] && policy[i].name && member.name == policy[i].name &&
                (policy[i].type == ZND_BUS_UNSPEC || policy[i].type == member.type))
                tb[i] = &member;
    return 0;
}

int ZND_BusParseArray(const ZND_BusPolicy *policy, int n, ZND_BusMsg **tb, ZND_BusMsg *arr)
{
    for (int i = 0; i < n; i++)
        tb[i] = nullptr;
    if (!arr || arr->type != ZND_BUS_ARRAY)
        return -1;
    int slot = 0;
    for (const auto &member : arr->items) {
        if (slot == n)
            break;
        if (policy[slot].type != ZND_BUS_UNSPEC && policy[slot].type != member.type)
            continue;
        tb[slot++] = &member;
    }
    return 0;
}

const char *ZND_BusGetString(ZND_BusMsg *v)
{
    return v->str.c_str();
}

int32_t ZND_BusGetInt32(ZND_BusMsg *v)
{
    return (int32_t)v->num;
}
