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

// The single-mode and the automatic-mode dial check differ in their debug texts, their handler and
// what follows the last probe of a mode.
struct DialCheck {
    ZND_TimeoutHandler handler;
    const char *count_tag;    // before "accDailTimerCount == %d"
    const char *active_tag;   // before "time: %s ssucce!  goto add route ..."
    const char *again_tag;    // before "timer:check %s count=%d!"
    void (*give_up)(uint32_t mode);
};

void single_mode_give_up(uint32_t mode)
{
    ZND_DBG("%s up fail!", ZND_AccModeName(mode));
    ZND_KEYLOG("acc failed by dialing");
    ZND_AccReport(ZND_ACC_FAILED);
}

// The mode that did not come up is stopped and the next one started.
void auto_mode_give_up(uint32_t mode)
{
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

const DialCheck kSingleModeCheck = {ZND_AccStateCheckTimeHandler, "", "", "", single_mode_give_up};
const DialCheck kAutoModeCheck = {ZND_AccAtuoUpCheckTimeHandler, "AutoUp: ", "[AutoUp]: ", "[AutoUp]:",
                                  auto_mode_give_up};

// One probe of the tunnel of curAccMode: routes and "acc success" once it carries traffic, another
// check a second later while the mode's limit allows, else the give-up.
void dial_check(const DialCheck &check)
{
    uint32_t mode = g_znd.curAccMode;
    g_znd.accDailTimerCount++;
    ZND_DBG("%saccDailTimerCount == %d", check.count_tag, g_znd.accDailTimerCount);
    if (ZND_AccModeActive(mode)) {
        // curAccMode stays at the mode that worked: supervision watches that one.
        ZND_DBG("%stime: %s ssucce!  goto add route ...", check.active_tag, ZND_AccModeName(mode));
        ZND_AccOkTodo();
        return;
    }
    if (g_znd.accDailTimerCount < ZND_AccModeLimit(mode)) {
        ZND_DBG("%stimer:check %s count=%d!", check.again_tag, ZND_AccModeName(mode), g_znd.accDailTimerCount);
        ZND_SetAccTimer(check.handler, ZND_DIAL_CHECK_MS);
        return;
    }
    check.give_up(mode);
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

void ZND_AccGiveUp(const char *key_log, ZND_AccOutcome outcome)
{
    ZND_KEYLOG("%s", key_log);
    g_znd.curAccMode = ZN_ACC_AUTO;
    ZND_AccReport(outcome);
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
    dial_check(kSingleModeCheck);
}

uint32_t ZND_AccAutoUp()
{
    g_znd.curAccMode++;
    g_znd.accDailTimerCount = 0;
    if (g_znd.curAccMode >= ZN_ACC_MODE_MAX) {
        ZND_ERROR("[AutoUp]:error acc mode!,auto acc up fail 1 !");
        ZND_AccGiveUp("auto acc fail", ZND_ACC_FAILED);
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
        ZND_SetAccTimer(ZND_AccAtuoUpCheckTimeHandler, ZND_DIAL_CHECK_MS);
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
        ZND_AccGiveUp("auto acc failed by timer", ZND_ACC_FAILED);
        return;
    }
    dial_check(kAutoModeCheck);
}

uint32_t ZND_AccOkTodo()
{
    ZND_DelAllRouteFromKernel();
    uint32_t rc = ZND_AddAllLoginRouteToKernel(&g_znd.client, ZND_GetLoginRouteSet());
    if (rc == ZND_OK)
        rc = ZND_AddAllTrafficRouteToKernel(&g_znd.client, ZND_GetTrafficRouteSet());
    if (rc == ZND_OK) {
        ZND_INFO("login route table and traffic route table add ok");
        ZND_AccReport(ZND_ACC_DIALED);
        return ZND_OK;
    }
    ZND_DBG("add route fail!, goto set status ...");
    ZND_DelAllRouteFromKernel();
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
