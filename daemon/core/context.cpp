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

// The record starts zeroed; the initial values follow before main runs.
struct InitialValues {
    InitialValues() { ZND_ContextInit(); }
} g_initial_values;

} // namespace

void ZND_ContextInit()
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

ZND_RouteHash *ZND_GetLoginRouteSet()
{
    return &g_znd.loginRoutes;
}

ZND_RouteHash *ZND_GetTrafficRouteSet()
{
    return &g_znd.trafficRoutes;
}
