// Supervision of a working tunnel: the WAN first, then the tunnel, restarted up to the mode's limit.
#include "tunnel/supervision.h"

#include "cloud/node_list.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "core/timer.h"
#include "tunnel/dial.h"
#include "tunnel/driver.h"
#include "tunnel/probe.h"

#define ZND_WAN_RECHECK_MS 30000
#define ZND_HEALTHY_RECHECK_MS 5000
#define ZND_RESTART_RECHECK_MS 1000

namespace {

void tunnel_active()
{
    if (g_znd.accReconnCount == 0) {
        ZND_DBG("Acc state is normal, reset the reconn timer");
        ZND_SetAccTimer(ZND_AccReconnTimeHandler, ZND_HEALTHY_RECHECK_MS);
        return;
    }
    ZND_DBG("reconn success, add route ...");
    g_znd.accReconnCount = 0;
    ZND_AccOkTodo();
}

// A dial takes seconds (netifd's ifup restarts one in progress): after an up the tunnel gets the
// dial check's window, one probe a second, before it is dialed again.
bool dial_window_open(uint32_t mode)
{
    if (g_znd.accReconnCount == 0)
        return false;
    g_znd.accDailTimerCount++;
    return g_znd.accDailTimerCount < ZND_AccModeLimit(mode);
}

void tunnel_inactive(uint32_t mode)
{
    const char *name = ZND_AccModeName(mode);
    if (dial_window_open(mode)) {
        ZND_DBG("reconn [%s] dialing, check %d", name, g_znd.accDailTimerCount);
        ZND_SetAccTimer(ZND_AccReconnTimeHandler, ZND_RESTART_RECHECK_MS);
        return;
    }
    g_znd.accReconnCount++;
    if (g_znd.accReconnCount > ZND_AccModeLimit(mode)) {
        ZND_DBG("reconn [%s] fail !!", name);
        ZND_KEYLOG("reconn failed by retry");
        ZND_AccReport(ZND_ACC_ABANDONED);
        return;
    }
    ClientRecord *client = &g_znd.client;
    AccNodeServer *node = ZND_MatchAccNode(client->node, client->nodename);
    const ZNACC_ModeOps &row = ZNACC_ModeTable[mode];
    if (!node || !row.up) {
        ZND_ERROR("reconn error!");
        ZND_KEYLOG("reconn failed, acc node not match");
        ZND_AccReport(ZND_ACC_ABANDONED);
        return;
    }
    ZND_AccReport(ZND_ACC_REDIALING);
    g_znd.accDailTimerCount = 0;
    row.up(client, node);
    ZND_KEYLOG("reconn acc start");
    ZND_DBG("reconn [%s] count:%d", name, g_znd.accReconnCount);
    ZND_SetAccTimer(ZND_AccReconnTimeHandler, ZND_RESTART_RECHECK_MS);
}

} // namespace

void ZND_AccReconnTimeHandler(ZND_Timeout *)
{
    if (!ZND_IsWanActive()) {
        ZND_AccReport(ZND_ACC_WAN_LOST);
        ZND_SetAccTimer(ZND_AccReconnTimeHandler, ZND_WAN_RECHECK_MS);
        return;
    }
    if (g_znd.client.reconn == 0)
        return;
    uint32_t mode = g_znd.curAccMode;
    if (mode >= ZN_ACC_MODE_MAX) {
        ZND_ERROR("error acc mode!");
        ZND_AccGiveUp("reconn acc failed", ZND_ACC_ABANDONED);
        return;
    }
    if (ZND_AccModeActive(mode))
        tunnel_active();
    else
        tunnel_inactive(mode);
}
