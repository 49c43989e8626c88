// A trivial object on the bus, the reference of the round-trip benchmark: "bench" with one method
// "ping" that answers {"status": "ok"} at once.
//   bus_ping_server [SOCKET]
#include <cstdio>
#include "platform/bus.h"
#include "platform/loop.h"

namespace {

int Ping(ZND_BusContext *ctx, ZND_BusObject *, ZND_BusRequest *req, const char *, ZND_BusMsg *)
{
    ZND_BusBuf b = {};
    ZND_BusBufInit(&b);
    ZND_BusAddString(&b, "status", "ok");
    int rc = ZND_BusSendReply(ctx, req, ZND_BusBufMsg(&b));
    ZND_BusBufFree(&b);
    return rc;
}

const ZND_BusMethod kMethods[] = {ZND_BUS_METHOD_NOARG("ping", Ping)};
ZND_BusObjectType g_type = ZND_BUS_OBJECT_TYPE("bench", kMethods);

} // namespace

int main(int argc, char **argv)
{
    if (ZND_LoopInit() != 0)
        return 2;
    ZND_BusContext *ctx = ZND_BusConnect(argc > 1 ? argv[1] : nullptr);
    if (!ctx) {
        fprintf(stderr, "bus_ping_server: cannot connect to the bus\n");
        return 1;
    }
    ZND_BusObject obj{};
    obj.name = "bench";
    obj.type = &g_type;
    obj.methods = kMethods;
    obj.n_methods = 1;
    ZND_BusAddUloop(ctx);
    if (ZND_BusAddObject(ctx, &obj) != ZND_BUS_STATUS_OK) {
        fprintf(stderr, "bus_ping_server: cannot add the object\n");
        return 1;
    }
    ZND_LoopRun();
    ZND_BusFree(ctx);
    ZND_LoopDone();
    return 0;
}
