#include "control/actions_session.h"

#include <cstring>
#include "cloud/cloud_route.h"
#include "cloud/login.h"
#include "cloud/node_list.h"
#include "control/request_params.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "discovery/broadcast.h"
#include "route/route_sync.h"
#include "tunnel/driver.h"

uint32_t ZND_ActionLogin(ZND_Params params, ZND_BusBuf *out)
{
    if (RPC_ParseLoginParams(&g_znd.client, params) != ZND_OK) {
        ZND_ERROR("Login username or password is NULL");
        return ZND_ERR_COMMON;
    }
    uint32_t code = ZND_UserLogin(&g_znd.client, nullptr);
    if (code != ZND_OK) {
        ZND_KEYLOG("login failed, code: %d", code);
    } else {
        ZND_KEYLOG("login success");
        code = ZND_GetAccNodes(&g_znd.client, g_znd.nodes);
        if (code != ZND_OK) {
            ZND_ERROR("login ZND_GetAccNodes failed!");
            ZND_KEYLOG("get acc nodes failed, code: %d", code);
        } else {
            ZND_SetState(ZND_STATE_LOGIN_OK, ZND_EVT_LOGIN);
        }
    }
    ZND_LoginRouteUpdateFromServer();
    if (out)
        ZND_BuildLoginResponse(code, out);
    return code;
}

uint32_t ZND_ActionLogout(ZND_Params, ZND_BusBuf *)
{
    uint32_t before = g_znd.curState;
    uint32_t ret = ZND_UserLogout(&g_znd.client);
    if (ret != ZND_OK)
        ZND_ERROR("User logout failed");
    if (before == ZND_STATE_ACCING || before == ZND_STATE_ACC_OK)
        ZND_NotifyBroadcast(ZND_NOTIFY_ACC_STOPPED);
    ZND_SetState(ZND_STATE_INIT, ZND_EVT_LOGOUT);
    ZND_KEYLOG("logout");
    return ret;
}

uint32_t ZND_ActionForceOffline(ZND_Params, ZND_BusBuf *)
{
    uint32_t ret = ZND_UserForceOfflineAccTunnel(&g_znd.client, nullptr);
    ZND_SetState(ZND_STATE_LOGIN_OK, ZND_EVT_LOGIN);
    return ret;
}

uint32_t ZND_LoginRouteUpdateFromServer()
{
    static ZND_RouteHash fresh;   // 16 KiB of bucket heads: kept off the stack
    ZND_RouteHashInit(&fresh);
    uint32_t code = ZND_GetCloudLoginRoute(&g_znd.client, &fresh);
    if (code != ZND_OK) {
        ZND_KEYLOG("login route failed code: %d", code);
        ZND_RouteHashClear(&fresh);
        return code;
    }
    if (g_znd.curState == ZND_STATE_ACC_OK) {
        ZND_INFO("acc ok, update kernel route table");
        ZND_AddNewLoginRouteToKernel(&fresh, ZND_GetLoginRouteSet());
        ZND_DelNotUsedLoginRouteFromKernel(&fresh, ZND_GetLoginRouteSet());
    } else {
        ZND_INFO("not acc ok, no need update kernel route table");
    }
    ZND_RouteHashCopy(ZND_GetLoginRouteSet(), &fresh);
    ZND_RouteHashClear(&fresh);
    return ZND_OK;
}
