#include "control/actions_acc.h"

#include <cstring>
#include "cloud/login.h"
#include "control/request_params.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "core/timer.h"
#include "discovery/broadcast.h"
#include "route/route_kernel.h"
#include "route/route_sync.h"
#include "tunnel/dial.h"
#include "tunnel/driver.h"
#include "tunnel/supervision.h"

namespace {

// The tunnel down and both tables flushed; a failure is logged and returned.
uint32_t stop_acceleration()
{
    uint32_t ret = ZND_AccDown(&g_znd.client);
    if (ret != ZND_OK)
        ZND_ERROR("Acc stop failed");
    return ret;
}

} // namespace

uint32_t ZND_ActionAccStart(ZND_Params params, ZND_BusBuf *)
{
    if (RPC_ParseAccStartParams(&g_znd.client, params) != ZND_OK) {
        ZND_ERROR("parse acc setting error");
        return ZND_ERR_COMMAND;
    }
    uint32_t code = ZND_AccUp(&g_znd.client, nullptr);
    if (code == ZND_OK) {
        ZND_KEYLOG("acc start");
        ZND_SetState(ZND_STATE_ACCING, ZND_EVT_ACC_START);
        return ZND_OK;
    }
    ZND_SetState(ZND_STATE_LOGIN_OK, ZND_EVT_ACC_FAIL);
    ZND_ERROR("Acc start failed");
    ZND_KEYLOG("acc start failed, code: %d", code);
    return code;
}

uint32_t ZND_ActionAccStop(ZND_Params, ZND_BusBuf *)
{
    uint32_t ret = stop_acceleration();
    ZND_NotifyBroadcast(ZND_NOTIFY_ACC_STOPPED);
    ZND_SetState(ZND_STATE_LOGIN_OK, ZND_EVT_ACC_STOP);
    ZND_KEYLOG("acc stop");
    return ret;
}

uint32_t ZND_ActionAccRestart(ZND_Params params, ZND_BusBuf *out)
{
    uint32_t ret = ZND_ActionAccStop(params, out);
    if (ret != ZND_OK) {
        ZND_ERROR("Acc stop failed");
        return ret;
    }
    ret = ZND_ActionAccStart(params, out);
    if (ret != ZND_OK)
        ZND_ERROR("Acc start failed");
    return ret;
}

uint32_t ZND_ActionAccSuccess(ZND_Params, ZND_BusBuf *)
{
    ZND_SetAccTimer(ZND_AccReconnTimeHandler, 5000);
    ZND_NotifyBroadcast(ZND_NOTIFY_ACC_SUCCESS);
    ZND_ResetAccDailTimerCount();
    ZND_ResetAccReconnCount();
    ZND_SetState(ZND_STATE_ACC_OK, ZND_EVT_ACC_SUCCESS);
    ZND_KEYLOG("acc success");
    return ZND_OK;
}

uint32_t ZND_ActionAccFail(ZND_Params, ZND_BusBuf *)
{
    uint32_t ret = stop_acceleration();
    ZND_UserLogin(&g_znd.client, nullptr);
    if (g_znd.client.ucAccTunState)
        ZND_ERROR("this acc tunnel is used by other device!!");
    ZND_NotifyBroadcast(ZND_NOTIFY_ACC_FAILED);
    ZND_SetState(ZND_STATE_LOGIN_OK, ZND_EVT_ACC_FAIL);
    return ret;
}

uint32_t ZND_ActionWanAbnormalDisconnect(ZND_Params, ZND_BusBuf *)
{
    uint32_t ret = stop_acceleration();
    // Restarts made before the loss do not count against the redial once the WAN is back.
    ZND_ResetAccReconnCount();
    ZND_NotifyBroadcast(ZND_NOTIFY_WAN_DROPPED);
    // The status LED keeps showing what it showed: only the state and the reason change.
    g_znd.curState = ZND_STATE_LOGIN_OK;
    g_znd.lastEvent = ZND_EVT_ABNORMAL_DISCONNECT;
    return ret;
}

namespace {

// NetDevChange's interface name and action, logged; false (logged too) when one is missing.
bool net_dev_params(ZND_Params params, const char **name, const char **action)
{
    *name = params ? params[0] : nullptr;
    *action = params ? params[1] : nullptr;
    if (!*name || !*action) {
        ZND_ERROR("ifName or action is NULL");
        return false;
    }
    ZND_INFO("netDevice change ifName(%s), action(%s), accTun(%s)", *name, *action, g_znd.client.accTun);
    return true;
}

} // namespace

uint32_t ZND_ActionNetDevChange(ZND_Params params, ZND_BusBuf *out)
{
    const char *name, *action;
    if (!net_dev_params(params, &name, &action))
        return ZND_ERR_ARG;
    uint32_t ret = ZND_OK;
    if (strcmp(name, g_znd.client.accTun) == 0) {
        if (strcmp(action, "up") == 0 && ZND_TrafficRouteTabIsEmpty()) {
            ZND_INFO("dev %s up, traffic route add", name);
            ret = ZND_AddAllTrafficRouteToKernel(&g_znd.client, ZND_GetTrafficRouteSet());
            if (ret != ZND_OK)
                ZND_ERROR("dev %s up, traffic route add failed", name);
        }
        return ret;
    }
    if (strcmp(name, "wan") == 0 && strcmp(action, "up") == 0) {
        if (ZND_LoginRouteTabIsEmpty()) {
            ZND_INFO("dev %s up, login route add", name);
            ret = ZND_AddAllLoginRouteToKernel(&g_znd.client, ZND_GetLoginRouteSet());
            if (ret != ZND_OK)
                ZND_ERROR("dev %s up, login route add failed", name);
        }
        return ret;
    }
    if (strcmp(name, "wan") == 0 && strcmp(action, "down") == 0) {
        ZND_INFO("wan down, network abnormal");
        ZND_KEYLOG("notice wan network failed, code: %d", ZND_EVT_ABNORMAL_DISCONNECT);
        ZND_MsgDispatch(ZND_EVT_ABNORMAL_DISCONNECT, params, out);
        return (uint32_t)ZND_SetAccTimer(ZND_AccReconnTimeHandler, 30000);
    }
    return ZND_OK;
}

// After a lost WAN (LOGIN_OK, accState 3) supervision rechecks the WAN every 30 s. The router
// tells of the WAN's return as it happens: the pending recheck runs at once (after this reply), and
// with reconnection on it dials the tunnel again. In LOGIN_OK for any other reason nothing waits
// for the WAN, and the event is refused as in the other states without a tunnel.
uint32_t ZND_ActionNetDevChangeAfterLoss(ZND_Params params, ZND_BusBuf *out)
{
    if (g_znd.lastEvent != ZND_EVT_ABNORMAL_DISCONNECT || !ZND_TimeoutPending(&g_znd.accTimer))
        return ZND_RefuseEvent(ZND_EVT_NET_DEV_CHANGE, out);
    const char *name, *action;
    if (!net_dev_params(params, &name, &action))
        return ZND_ERR_ARG;
    if (strcmp(name, "wan") != 0 || strcmp(action, "up") != 0)
        return ZND_OK;
    ZND_INFO("wan up, check network now");
    return (uint32_t)ZND_SetAccTimer(ZND_AccReconnTimeHandler, 0);
}
