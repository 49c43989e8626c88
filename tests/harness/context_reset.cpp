#include "harness/context_reset.h"

#include <cstdio>
#include "control/state.h"
#include "core/context.h"
#include "platform/bus.h"
#include "route/route_hash.h"

namespace {

bool route_set_ready(const ZND_RouteHash &set)
{
    return set.buckets[0].next != nullptr;
}

} // namespace

void ZND_ContextReset()
{
    // What the record holds outside itself goes first: pending timers leave the loop, the key log
    // is closed and route entries are freed. Then the whole record is cleared, so that a field
    // added later cannot be missed, and the initial values are set again.
    if (ZND_TimeoutPending(&g_znd.accTimer))
        ZND_TimeoutCancel(&g_znd.accTimer);
    if (ZND_TimeoutPending(&g_znd.restoreTimer))
        ZND_TimeoutCancel(&g_znd.restoreTimer);
    if (g_znd.keyLogFile)
        fclose(g_znd.keyLogFile);
    if (route_set_ready(g_znd.loginRoutes))
        ZND_RouteHashClear(&g_znd.loginRoutes);
    if (route_set_ready(g_znd.trafficRoutes))
        ZND_RouteHashClear(&g_znd.trafficRoutes);
    ZND_BusBufFree(&g_znd.resultBuf);
    ZND_BusBufFree(&g_znd.replyBuf);
    g_znd = ZND_Context{};
    ZND_ContextInit();
    // Wired as main wires it at start-up.
    ZND_StateInit();
}
