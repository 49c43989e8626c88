// Runs inside the simulated router (sim/router exec) and drives the tunnel control the way the
// daemon does, with the real shell, UCI files, rtnetlink and event loop:
//   sim_tunnel_driver up MODE     start acceleration in MODE towards the first demo node and run
//                                 the loop until the state machine reaches ACC_OK or gives up
//   sim_tunnel_driver down MODE   stop acceleration of MODE (tunnel down, both tables flushed)
// It prints one line "state=... mode=... accTun=... login=N traffic=N" and exits 0 on success.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include "control/state.h"
#include "core/context.h"
#include "core/result.h"
#include "core/timer.h"
#include "platform/loop.h"
#include "route/route_sync.h"
#include "route/route_test_util.h"
#include "tunnel/driver.h"

namespace {

const int kWatchMs = 100;
const int kGiveUpMs = 40000;
int g_waited_ms = 0;
ZND_Timeout g_watch;

void watch(ZND_Timeout *t)
{
    g_waited_ms += kWatchMs;
    bool settled = g_znd.curState == ZND_STATE_ACC_OK || g_znd.curState == ZND_STATE_LOGIN_OK;
    if (settled || g_waited_ms >= kGiveUpMs) {
        ZND_LoopCancel();
        return;
    }
    ZND_TimeoutSet(t, kWatchMs);
}

void demo_node()
{
    AccNodeServer &n = g_znd.nodes[0];
    n.id = 1;
    snprintf(n.cSvrIpv4, sizeof n.cSvrIpv4, "203.0.113.10");
    snprintf(n.cSvrName, sizeof n.cSvrName, "demo-node");
    snprintf(n.cOpenVpnDev, sizeof n.cOpenVpnDev, "tun");
    n.ulOpenVpnPort = 1194;
    snprintf(g_znd.client.uname, sizeof g_znd.client.uname, "demo");
    snprintf(g_znd.client.upass, sizeof g_znd.client.upass, "zunaro-demo");
    g_znd.client.gid = ZND_GAME_ID;
}

int report(int ok)
{
    printf("state=%s mode=%u accTun=%s login=%zu traffic=%zu\n", ZND_GetStateName(g_znd.curState),
           g_znd.curAccMode, g_znd.client.accTun, RouteCount(ZND_GetLoginRouteSet()),
           RouteCount(ZND_GetTrafficRouteSet()));
    return ok ? 0 : 1;
}

int up(const char *mode)
{
    if (ZND_LoopInit() != 0)
        return 2;
    ZND_StateInit();
    ZND_LocalRouteTabInit();
    demo_node();
    g_znd.curState = ZND_STATE_LOGIN_OK;
    const char *params[ZND_PARAM_SLOTS] = {mode, "0", "", "0"};
    uint32_t rc = ZND_EventMsgHaldle(ZND_EVT_ACC_START, params, nullptr);
    if (rc != ZND_OK) {
        fprintf(stderr, "acc start: %u\n", rc);
        return report(0);
    }
    g_watch.cb = watch;
    ZND_TimeoutSet(&g_watch, kWatchMs);
    ZND_LoopRun();
    int ok = g_znd.curState == ZND_STATE_ACC_OK;
    // Leave the tunnel and the routes for the caller to inspect; nothing else may run.
    if (ZND_TimeoutPending(&g_znd.accTimer))
        ZND_TimeoutCancel(&g_znd.accTimer);
    return report(ok);
}

int down(const char *mode)
{
    ZND_RouteHashInit(ZND_GetLoginRouteSet());
    ZND_RouteHashInit(ZND_GetTrafficRouteSet());
    g_znd.curAccMode = (uint32_t)strtoul(mode, nullptr, 10);
    return report(ZND_AccDown(&g_znd.client) == ZND_OK);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s up|down MODE\n", argv[0]);
        return 2;
    }
    if (strcmp(argv[1], "up") == 0)
        return up(argv[2]);
    if (strcmp(argv[1], "down") == 0)
        return down(argv[2]);
    return 2;
}
