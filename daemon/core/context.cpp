#include "core/context.h"

#include <cstring>
#include "core/build_config.h"

ZND_Context g_znd;

namespace {

const char *const g_resolvers[ZND_RESOLVER_COUNT] = {
    "1.2.4.8", "114.114.114.114", "114.114.115.115", "8.8.4.4", "8.8.8.8",
};
const char *const g_servers[ZND_CLOUD_SERVER_COUNT] = {
    ZND_CLOUD_PRIMARY, ZND_CLOUD_SECONDARY, ZND_CLOUD_FALLBACK,
};
const uint32_t g_dial_limit[ZND_ACC_MODE_COUNT] = {0, 15, 15, 15, 15};

bool route_set_ready(const ZND_RouteHash &set)
{
    return set.buckets[0].next != nullptr;
}

void set_initial_values()
{
    g_znd.rpcObject.name = "zunaro";
    g_znd.curState = 1;
    for (int i = 0; i < ZND_RESOLVER_COUNT; i++)
        g_znd.publicResolvers[i] = g_resolvers[i];
    g_znd.publicResolvers[ZND_RESOLVER_COUNT] = nullptr;
    for (int i = 0; i < ZND_CLOUD_SERVER_COUNT; i++)
        g_znd.cloudServers[i] = g_servers[i];
    g_znd.cloudServers[ZND_CLOUD_SERVER_COUNT] = nullptr;
    memcpy(g_znd.accDailTimerLimit, g_dial_limit, sizeof g_dial_limit);
    g_znd.icmpSeq = 1;
    g_znd.broadcastWatcher.fd = -1;
}

struct InitialValues {
    InitialValues() { set_initial_values(); }
} g_initial_values;

} // namespace

void ZND_ContextReset()
{
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

    g_znd.rpcObject = ZND_BusObject{};
    g_znd.curState = 0;
    g_znd.broadcastWatcher = ZND_Fd{};
    g_znd.ubusCtx = nullptr;
    g_znd.restoreTimer = ZND_Timeout{};
    g_znd.lastEvent = 0;
    g_znd.debugFlag = 0;
    g_znd.keyLogFile = nullptr;
    g_znd.accReconnCount = 0;
    g_znd.accDailTimerCount = 0;
    g_znd.accTimer = ZND_Timeout{};
    g_znd.curAccMode = 0;
    memset(g_znd.nodes, 0, sizeof g_znd.nodes);
    memset(&g_znd.client, 0, sizeof g_znd.client);
    memset(&g_znd.trafficRoutes, 0, sizeof g_znd.trafficRoutes);
    memset(&g_znd.loginRoutes, 0, sizeof g_znd.loginRoutes);
    set_initial_values();
}

ZND_RouteHash *ZND_GetLoginRouteSet()
{
    return &g_znd.loginRoutes;
}

ZND_RouteHash *ZND_GetTrafficRouteSet()
{
    return &g_znd.trafficRoutes;
}
