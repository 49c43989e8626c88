// Acceleration start and the once-a-second dial check of a single mode.
#include "cloud/login.h"
#include "cloud/node_list.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "core/timer.h"
#include "tunnel/acc.h"
#include "tunnel/acc_mode.h"
#include "tunnel/tunnel.h"

#define ZND_DIAL_CHECK_MS 1000

namespace {

// Starts the tunnel of curAccMode (1..4) and arms its dial check.
uint32_t up_single_mode(ClientRecord *client, AccNodeServer *node)
{
    const ZNACC_ModeOps *row = ZND_AccModeRow(g_znd.curAccMode);
    if (!row || !row->up || row->up(client, node) != ZND_OK)
        return ZND_ERR_COMMON;
    g_znd.accDailTimerCount = 0;
    ZND_SetAccTimer(ZND_AccStateCheckTimeHandler, ZND_DIAL_CHECK_MS);
    return ZND_OK;
}

} // namespace

uint32_t ZND_AccUp(ClientRecord *client, ZND_BusRequest *req)
{
    if (!client) {
        ZND_ERROR("the argument point is NULL!!");
        return ZND_ERR_COMMON;
    }
    if (client->ucAccTunState) {
        // The cloud's view may be stale: ask again before refusing.
        ZND_UserLogin(client, req);
        if (client->ucAccTunState) {
            ZND_ERROR("this acc tunnel is used by other device!!");
            return ZND_ERR_TUNNEL_USED;
        }
    }
    AccNodeServer *node = ZND_MatchAccNode(client->node, client->nodename);
    if (!node) {
        ZND_ERROR("get node info error!");
        ZND_KEYLOG("Match acc node config failed");
        return ZND_ERR_NODE_MATCH;
    }
    if (ZND_TimeoutPending(&g_znd.accTimer)) {
        ZND_DBG(" acc timeout cancel !!!");
        ZND_TimeoutCancel(&g_znd.accTimer);
    }
    ZND_AccDown(client);

    g_znd.curAccMode = client->mode;
    if (g_znd.curAccMode >= ZN_ACC_MODE_MAX) {
        ZND_ERROR("error acc mode!");
        return ZND_ERR_COMMON;
    }
    uint32_t result = g_znd.curAccMode == ZN_ACC_AUTO ? ZND_AccAutoUp() : up_single_mode(client, node);
    if (result == ZND_OK)
        ZND_DBG("%s up ok!", ZND_AccModeName(client->mode));
    else
        ZND_DBG("%s up fail!", ZND_AccModeName(client->mode));
    return result;
}

void ZND_AccStateCheckTimeHandler(ZND_Timeout *)
{
    uint32_t mode = g_znd.curAccMode;
    g_znd.accDailTimerCount++;
    ZND_DBG("accDailTimerCount == %d", g_znd.accDailTimerCount);
    if (ZND_AccModeActive(mode)) {
        ZND_DBG("time: %s ssucce!  goto add route ...", ZND_AccModeName(mode));
        ZND_AccOkTodo();
        return;
    }
    if (g_znd.accDailTimerCount < ZND_AccModeLimit(mode)) {
        ZND_DBG("timer:check %s count=%d!", ZND_AccModeName(mode), g_znd.accDailTimerCount);
        ZND_SetAccTimer(ZND_AccStateCheckTimeHandler, ZND_DIAL_CHECK_MS);
        return;
    }
    ZND_DBG("%s up fail!", ZND_AccModeName(mode));
    ZND_KEYLOG("acc failed by dialing");
    ZND_AccReport(ZND_ACC_FAILED);
}
