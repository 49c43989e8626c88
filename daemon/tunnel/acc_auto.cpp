// Automatic mode: OpenVPN, IPsec, L2TP and PPTP in turn, each given its own dial checks.
#include "cloud/node_list.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "core/timer.h"
#include "tunnel/acc.h"
#include "tunnel/acc_mode.h"
#include "tunnel/tunnel.h"

#define ZND_AUTO_CHECK_MS 1000

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
