#include "control/request_params.h"

#include <cstring>
#include "core/context.h"
#include "core/decimal.h"
#include "core/log.h"
#include "core/result.h"
#include "core/text_field.h"

namespace {

const char *param(ZND_Params params, int slot)
{
    return params ? params[slot] : nullptr;
}

} // namespace

uint32_t RPC_ParseLoginParams(ClientRecord *client, ZND_Params params)
{
    const char *user = param(params, 0), *pass = param(params, 1);
    if (!user || !pass) {
        ZND_ERROR("parse user Account error");
        return ZND_ERR_COMMON;
    }
    ZND_CopyCut(client->uname, user);
    ZND_CopyCut(client->upass, pass);
    return ZND_OK;
}

uint32_t RPC_ParseAccStartParams(ClientRecord *client, ZND_Params params)
{
    for (int i = 0; i < 4; i++) {
        if (!param(params, i)) {
            ZND_ERROR("parse AccSeting error");
            return ZND_ERR_COMMON;
        }
    }
    // A number that does not fit reads as no valid choice: a mode that is refused, a node id that
    // matches no node (the name decides), reconnection on; never 0, which is a choice of its own.
    client->mode = ZND_DecimalU32Or(params[0], UINT32_MAX);
    client->node = ZND_DecimalU32Or(params[1], ZND_NODE_ID_NONE);
    ZND_CopyCut(client->nodename, params[2]);
    client->reconn = ZND_DecimalU32Or(params[3], UINT32_MAX);
    return ZND_OK;
}

void ZND_BuildLoginResponse(uint32_t, ZND_BusBuf *out)
{
    if (!out) {
        ZND_ERROR("out is NULL point");
        return;
    }
    const ClientRecord &c = g_znd.client;
    char num[16];
    ZND_BusAddString(out, "uName", c.uname);
    ZND_BusAddString(out, "uPass", c.upass);
    snprintf(num, sizeof num, "%d", c.ucVipType);
    ZND_BusAddString(out, "uType", num);
    snprintf(num, sizeof num, "%d", c.ucAccTunState);
    ZND_BusAddString(out, "uConflict", num);
    ZND_BusAddString(out, "uExpire", c.ucExprtData);
    ZND_BusAddString(out, "uServerTime", c.ucSvrCurTime);
    ZND_BusAddString(out, "realIp", c.ucPbNetIp);
}

void ZND_BuildErrorResponse(int32_t event, uint32_t code, ZND_BusBuf *out)
{
    if (!out) {
        ZND_ERROR("out is NULL point");
        return;
    }
    char num[16];
    ZND_BusAddString(out, "msg", ZND_GetErrorText(code));
    ZND_BusAddString(out, "status", ZND_GetStateName(g_znd.curState));
    ZND_BusAddString(out, "event", ZND_GetEventName(event));
    snprintf(num, sizeof num, "%d", ZND_GetAccState());
    ZND_BusAddString(out, "accState", num);
}
