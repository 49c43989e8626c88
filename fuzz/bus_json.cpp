// JSON text into bus values (the message a client passes to a call) and bus values into JSON text
// (the reply as the bus client prints it). Text that parses is printed, with and without
// indentation, and must parse back to the same value: names, types, order and texts exactly,
// fractions as printed (the router's bus client shows six decimals). A value that JSON cannot
// show as it is (a NaN or an infinity, a table member without a name) only has to print.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include "fuzz_env.h"
#include "platform/bus.h"

namespace {

bool printable(const ZND_BusValue &v, bool in_table)
{
    if (in_table && v.name.empty())
        return false;
    if (v.type == ZND_BUS_DOUBLE && !std::isfinite(v.dbl))
        return false;
    for (const auto &item : v.items)
        if (!printable(item, v.type == ZND_BUS_TABLE))
            return false;
    return true;
}

// The double as printed exactly, or with six decimals.
bool same_fraction(double printed, double original)
{
    if (printed == original)
        return true;
    char text[400];
    snprintf(text, sizeof text, "%lf", original);
    return printed == strtod(text, nullptr);
}

std::string same_value(const ZND_BusValue &back, const ZND_BusValue &v, const std::string &path)
{
    if (back.name != v.name)
        return path + ": name";
    // A fraction may come back as an integer ("1.000000"), and a large integer as a fraction.
    if (v.type == ZND_BUS_DOUBLE || back.type == ZND_BUS_DOUBLE) {
        double b = back.type == ZND_BUS_DOUBLE ? back.dbl : (double)back.num;
        double o = v.type == ZND_BUS_DOUBLE ? v.dbl : (double)v.num;
        bool numbers = back.type == ZND_BUS_DOUBLE || back.type == ZND_BUS_INT32 || back.type == ZND_BUS_INT64;
        return numbers && same_fraction(b, o) ? "" : path + ": fraction";
    }
    if (back.type != v.type)
        return path + ": type " + std::to_string(back.type) + " vs " + std::to_string(v.type);
    if (back.str != v.str || back.num != v.num || back.items.size() != v.items.size())
        return path + ": contents";
    for (size_t i = 0; i < v.items.size(); i++) {
        std::string d = same_value(back.items[i], v.items[i], path + "[" + std::to_string(i) + "]");
        if (!d.empty())
            return d;
    }
    return "";
}

void print_and_read_back(const ZND_BusValue &v, bool indent)
{
    std::string text = ZND_BusToJson(v, indent);
    if (!printable(v, false))
        return;
    ZND_BusValue back;
    ZND_FUZZ_CHECK(ZND_BusFromJson(text.c_str(), &back) == 0, text);
    std::string diff = same_value(back, v, "$");
    ZND_FUZZ_CHECK(diff.empty(), diff + "\n" + text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string text = ZND_FuzzText(data, size);
    ZND_BusValue v;
    if (ZND_BusFromJson(text.c_str(), &v) != 0)
        return 0;
    ZND_FUZZ_CHECK(v.type == ZND_BUS_TABLE || v.type == ZND_BUS_ARRAY, text);
    print_and_read_back(v, false);
    print_and_read_back(v, true);
    return 0;
}
