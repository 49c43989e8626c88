// After a restart: wait for the WAN, read the saved state name, log in again, and for an
// accelerated state dial again or adopt the tunnel that is still running.
#include "control/restore.h"

#include <cstdio>
#include <cstring>
#include "cloud/login.h"
#include "cloud/node_list.h"
#include "config/account.h"
#include "config/uci.h"
#include "control/actions_session.h"
#include "control/state.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "core/timer.h"
#include "route/route_sync.h"
#include "tunnel/dial.h"
#include "tunnel/driver.h"
#include "tunnel/probe.h"
#include "tunnel/supervision.h"

namespace {

// Logs in and fetches the node list; true when both worked.
bool restore_login(bool key_log_before_state)
{
    uint32_t code = ZND_UserLogin(&g_znd.client, nullptr);
    ZND_LoginRouteUpdateFromServer();
    if (code != ZND_OK) {
        ZND_ERROR("[Restore]:login failed");
        ZND_KEYLOG("[Restore]: login failed, code: %d", code);
        return false;
    }
    code = ZND_GetAccNodes(&g_znd.client, g_znd.nodes);
    if (code != ZND_OK) {
        ZND_ERROR("[Restore]:login get node failed");
        ZND_KEYLOG("[Restore]: get acc nodes failed, code: %d", code);
        return false;
    }
    if (key_log_before_state) {
        ZND_KEYLOG("[Restore]: login success");
        ZND_SetState(ZND_STATE_LOGIN_OK, ZND_EVT_LOGIN);
    } else {
        ZND_SetState(ZND_STATE_LOGIN_OK, ZND_EVT_LOGIN);
        ZND_KEYLOG("[Restore]: login success");
    }
    return true;
}

void adopt_running_tunnel()
{
    ClientRecord *c = &g_znd.client;
    snprintf(c->accTun, sizeof c->accTun, "%s", ZND_GetAccTunName(g_znd.curAccMode));
    ZND_AddAllLoginRouteToKernel(c, ZND_GetLoginRouteSet());
    ZND_AddAllTrafficRouteToKernel(c, ZND_GetTrafficRouteSet());
    c->ucAccTunState = 0;
    ZND_SetState(ZND_STATE_ACC_OK, ZND_EVT_ACC_SUCCESS);
    ZND_KEYLOG("[Restore]: acc success");
    ZND_SetAccTimer(ZND_AccReconnTimeHandler, 5000);
}

void restore_acceleration()
{
    if (!restore_login(true))
        return;
    uint32_t code = ZND_AccUp(&g_znd.client, nullptr);
    if (code == ZND_OK) {
        ZND_KEYLOG("[Restore]: acc start");
        ZND_SetState(ZND_STATE_ACCING, ZND_EVT_ACC_START);
        return;
    }
    if (code == ZND_ERR_TUNNEL_USED) {
        if (ZND_AccStatCheck(&g_znd.client, nullptr) == ZND_OK) {
            adopt_running_tunnel();
            return;
        }
        if (ZND_UserForceOfflineAccTunnel(&g_znd.client, nullptr) != ZND_OK ||
            ZND_AccUp(&g_znd.client, nullptr) != ZND_OK) {
            ZND_SetState(ZND_STATE_LOGIN_OK, ZND_EVT_ACC_FAIL);
            ZND_ERROR("[Restore]:Acc start failed(ForceOffline)");
            ZND_KEYLOG("[Restore]: acc start failed(forceOffline fail)");
            return;
        }
        ZND_INFO("[Restore]:ForceOffline, then Accup");
        ZND_KEYLOG("[Restore]: forceOffline, then acc start");
        ZND_SetState(ZND_STATE_ACCING, ZND_EVT_ACC_START);
        return;
    }
    ZND_SetState(ZND_STATE_LOGIN_OK, ZND_EVT_ACC_FAIL);
    ZND_ERROR("[Restore]:Acc start failed");
    ZND_KEYLOG("[Restore]: acc start failed, code: %d", code);
}

} // namespace

void ZND_RestoreFromAbnormalExit()
{
    if (g_znd.curState != ZND_STATE_INIT) {
        ZND_DBG("[Restore]:quit");
        return;
    }
    CFGI_ReadUserAccountInfo(&g_znd.client);
    CFGI_ReadUserAccSetting(&g_znd.client);

    char saved[64] = {};
    UCI_GetCfgInfo("userinfo", "1", "currState", saved, sizeof saved);

    if (strcmp(saved, "INIT") == 0) {
        ZND_DBG("[Restore]:INIT STATUS, quit");
        return;
    }
    if (strcmp(saved, "LOGIN_OK") == 0)
        restore_login(false);
    else if (strcmp(saved, "ACC_OK") == 0 || strcmp(saved, "ACCING") == 0)
        restore_acceleration();
    ZND_INFO("abnormal restore preState: %s", saved);
}

void ZND_AbnormalRestoreTimerHandler(ZND_Timeout *)
{
    if (ZND_IsWanActive()) {
        ZND_RestoreFromAbnormalExit();
        return;
    }
    ZND_INFO("Network error, fail to connect to cloud server, reconnect...");
    ZND_SetTimer(&g_znd.restoreTimer, ZND_AbnormalRestoreTimerHandler, 1000);
}
