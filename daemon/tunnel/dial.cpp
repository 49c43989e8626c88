// Acceleration start: the node, the stop of whatever runs, the tunnel of the saved mode or, in
// automatic mode, each kind in turn, and the once-a-second dial check until the tunnel carries
// traffic; then the routes, and the outcome reported to the control plane.
#include "tunnel/dial.h"

#include "cloud/login.h"
#include "cloud/node_list.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "core/timer.h"
#include "route/route_sync.h"
#include "tunnel/driver.h"

#define ZND_DIAL_CHECK_MS 1000
#define ZND_AUTO_CHECK_MS 1000

namespace {

ZND_AccReportFn g_report = nullptr;

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

void ZND_AccSetReport(ZND_AccReportFn fn)
{
    g_report = fn;
}

void ZND_AccReport(ZND_AccOutcome outcome)
{
    if (g_report)
        g_report(outcome);
}

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

uint32_t ZND_AccAutoUp()
{
    g_znd.curAccMode++;
    g_znd.accDailTimerCount = 0;
    if (g_znd.curAccMode >= ZN_ACC_MODE_MAX) {
        ZND_ERROR("[AutoUp]:error acc mode!,auto acc up fail 1 !");
        ZND_KEYLOG("auto acc fail");
        g_znd.curAccMode = ZN_ACC_AUTO;
        ZND_AccReport(ZND_ACC_FAILED);
        return ZND_ERR_COMMON;
    }
    ClientRecord *client = &g_znd.client;
    AccNodeServer *node = ZND_MatchAccNode(client->node, client->nodename);
    if (!node) {
        ZND_ERROR("[AutoUp]:get node info error!");
        return ZND_ERR_NODE_MATCH;
    }
    const ZNACC_ModeOps &row = ZNACC_ModeTable[g_znd.curAccMode];
    if (row.up && row.up(client, node) == ZND_OK) {
        ZND_SetAccTimer(ZND_AccAtuoUpCheckTimeHandler, ZND_AUTO_CHECK_MS);
        return ZND_OK;
    }
    ZND_DBG("[AutoUp]: accDailTimerCount[%d] fail, try next mode", g_znd.accDailTimerCount);
    return ZND_AccAutoUp();
}

void ZND_AccAtuoUpCheckTimeHandler(ZND_Timeout *)
{
    uint32_t mode = g_znd.curAccMode;
    if (mode >= ZN_ACC_MODE_MAX) {
        ZND_ERROR("[AutoUp]:error acc mode! auto acc up fail 2");
        ZND_KEYLOG("auto acc failed by timer");
        g_znd.curAccMode = ZN_ACC_AUTO;
        ZND_AccReport(ZND_ACC_FAILED);
        return;
    }
    g_znd.accDailTimerCount++;
    ZND_DBG("AutoUp: accDailTimerCount == %d", g_znd.accDailTimerCount);
    if (ZND_AccModeActive(mode)) {
        // curAccMode stays at the mode that worked: supervision watches that one.
        ZND_DBG("[AutoUp]: time: %s ssucce!  goto add route ...", ZND_AccModeName(mode));
        ZND_AccOkTodo();
        return;
    }
    if (g_znd.accDailTimerCount < ZND_AccModeLimit(mode)) {
        ZND_DBG("[AutoUp]:timer:check %s count=%d!", ZND_AccModeName(mode), g_znd.accDailTimerCount);
        ZND_SetAccTimer(ZND_AccAtuoUpCheckTimeHandler, ZND_AUTO_CHECK_MS);
        return;
    }
    ZND_DBG("[AutoUp]:timer: %s fail, try next mode!", ZND_AccModeName(mode));
    if (ZNACC_ModeTable[mode].down)
        ZNACC_ModeTable[mode].down();
    ZND_DBG("[AutoUp]: accDailTimerCount[%d] fail, try next mode", g_znd.accDailTimerCount);
    // Without a node the next mode cannot start and nothing would ever end the dial: fail it.
    if (ZND_AccAutoUp() == ZND_ERR_NODE_MATCH) {
        ZND_KEYLOG("Match acc node config failed");
        ZND_AccReport(ZND_ACC_FAILED);
    }
}

uint32_t ZND_AccOkTodo()
{
    ZND_DelAllLoginRouteFromKernel();
    ZND_DelAllTrafficRouteFromKernel();
    uint32_t rc = ZND_AddAllLoginRouteToKernel(&g_znd.client, ZND_GetLoginRouteSet());
    if (rc == ZND_OK)
        rc = ZND_AddAllTrafficRouteToKernel(&g_znd.client, ZND_GetTrafficRouteSet());
    if (rc == ZND_OK) {
        ZND_INFO("login route table and traffic route table add ok");
        ZND_AccReport(ZND_ACC_DIALED);
        return ZND_OK;
    }
    ZND_DBG("add route fail!, goto set status ...");
    ZND_DelAllLoginRouteFromKernel();
    ZND_DelAllTrafficRouteFromKernel();
    ZND_KEYLOG("acc failed by route");
    ZND_AccReport(ZND_ACC_FAILED);
    return ZND_OK;
}

uint32_t ZND_AccStatCheck(ClientRecord *, void *)
{
    uint32_t mode = g_znd.curAccMode;
    if (mode >= ZN_ACC_MODE_MAX) {
        ZND_ERROR("error acc mode!");
        return ZND_ERR_COMMON;
    }
    uint32_t result = ZND_ERR_COMMON;
    if (mode == ZN_ACC_AUTO) {
        for (uint32_t m = 0; m < ZN_ACC_MODE_MAX; m++) {
            if (ZND_AccModeActive(m)) {
                ZND_DBG("%s acc online!", ZND_AccModeName(m));
                g_znd.curAccMode = m;
                result = ZND_OK;
                break;
            }
        }
    } else if (ZND_AccModeActive(mode)) {
        ZND_DBG("%s acc online!", ZND_AccModeName(mode));
        result = ZND_OK;
    }
    ZND_DBG("Acc online ==>> %s!", ZND_AccModeName(g_znd.curAccMode));
    return result;
}
