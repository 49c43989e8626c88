// JSON text into bus values (the message a client passes to a call) and bus values into JSON text
// (the reply as the bus client prints it). Text that parses is printed, with and without
// indentation, and must parse back to the same value.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include "fuzz_env.h"
#include "platform/bus.h"
#include "platform/bus_value_util.h"

namespace {

// JSON has no NaN or infinity: the printer writes null for them.
void printable(ZND_BusValue *v)
{
    if (v->type == ZND_BUS_DOUBLE && !std::isfinite(v->dbl)) {
        v->type = ZND_BUS_NULL;
        v->dbl = 0;
    }
    for (auto &item : v->items)
        printable(&item);
}

void print_and_read_back(const ZND_BusValue &v, bool indent)
{
    std::string text = ZND_BusToJson(v, indent);
    ZND_BusValue back;
    ZND_FUZZ_CHECK(ZND_BusFromJson(text.c_str(), &back) == 0, text);
    ZND_BusValue want = v;
    printable(&want);
    std::string diff = BusDiff(back, want);
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
