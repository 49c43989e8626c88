// Comparison and construction helpers for bus values in tests.
#pragma once
#include <cmath>
#include <cstdint>
#include <string>
#include "platform/bus.h"

// Differences between two values, as a readable path; empty when they are identical
// (types, names, order and contents; a NaN equals a NaN).
inline std::string BusDiff(const ZND_BusValue &a, const ZND_BusValue &b, const std::string &path = "$")
{
    if (a.type != b.type)
        return path + ": type " + std::to_string(a.type) + " vs " + std::to_string(b.type);
    if (a.name != b.name)
        return path + ": name '" + a.name + "' vs '" + b.name + "'";
    switch (a.type) {
    case ZND_BUS_STRING:
        if (a.str != b.str)
            return path + ": string differs";
        break;
    case ZND_BUS_INT32:
    case ZND_BUS_INT64:
    case ZND_BUS_BOOL:
        if (a.num != b.num)
            return path + ": " + std::to_string(a.num) + " vs " + std::to_string(b.num);
        break;
    case ZND_BUS_DOUBLE:
        if (a.dbl != b.dbl && !(std::isnan(a.dbl) && std::isnan(b.dbl)))
            return path + ": double differs";
        break;
    case ZND_BUS_TABLE:
    case ZND_BUS_ARRAY:
        if (a.items.size() != b.items.size())
            return path + ": " + std::to_string(a.items.size()) + " vs " + std::to_string(b.items.size()) +
                   " members";
        for (size_t i = 0; i < a.items.size(); i++) {
            std::string d = BusDiff(a.items[i], b.items[i], path + "[" + std::to_string(i) + "]");
            if (!d.empty())
                return d;
        }
        break;
    default:
        break;
    }
    return "";
}

inline ZND_BusValue BusScalar(ZND_BusType type, const char *name, int64_t num = 0, const char *str = "",
                              double dbl = 0)
{
    ZND_BusValue v;
    v.type = type;
    v.name = name;
    v.num = num;
    v.str = str;
    v.dbl = dbl;
    return v;
}

// A table holding every kind of value: an integer next to the same digits as text, a repeated
// name, 64-bit and fractional numbers, booleans, null, nested and empty containers.
inline ZND_BusValue BusSampleMessage()
{
    ZND_BusBuf b;
    ZND_BusBufInit(&b);
    ZND_BusAddInt32(&b, "n", 1);
    ZND_BusAddString(&b, "s", "1");
    ZND_BusAddString(&b, "status", "3");
    ZND_BusAddString(&b, "status", "LOGIN_OK");
    ZND_BusAddInt32(&b, "min", INT32_MIN);
    ZND_BusAddNull(&b, "none");
    ZND_BusOpenArray(&b, "params");
    ZND_BusAddString(&b, nullptr, "line\nbreak \"quoted\" \\ /");
    ZND_BusAddInt32(&b, nullptr, -7);
    ZND_BusOpenTable(&b, nullptr);
    ZND_BusAddString(&b, "k", "v");
    ZND_BusClose(&b);
    ZND_BusOpenArray(&b, nullptr);
    ZND_BusClose(&b);
    ZND_BusClose(&b);
    ZND_BusOpenTable(&b, "empty");
    ZND_BusClose(&b);
    ZND_BusValue v = b.root;
    ZND_BusBufFree(&b);
    v.items.push_back(BusScalar(ZND_BUS_INT64, "big", 5000000000LL));
    v.items.push_back(BusScalar(ZND_BUS_INT64, "small64", 3));
    v.items.push_back(BusScalar(ZND_BUS_BOOL, "yes", 1));
    v.items.push_back(BusScalar(ZND_BUS_BOOL, "no", 0));
    v.items.push_back(BusScalar(ZND_BUS_DOUBLE, "frac", 0, "", 0.1));
    v.items.push_back(BusScalar(ZND_BUS_STRING, "nul", 0, ""));
    v.items.back().str.assign("a\0b", 3);
    return v;
}
