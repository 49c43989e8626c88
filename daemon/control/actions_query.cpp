#include "control/actions_query.h"

#include <cstdio>
#include "cloud/node.h"
#include "cloud/node_list.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"

namespace {

void add_decimal(ZND_BusBuf *out, const char *name, long value)
{
    char num[24];
    snprintf(num, sizeof num, "%ld", value);
    ZND_BusAddString(out, name, num);
}

uint32_t reported_mode()
{
    return g_znd.client.mode != 0 ? g_znd.client.mode : g_znd.curAccMode;
}

} // namespace

uint32_t ZND_ActionGetVANTOState(ZND_Params, ZND_BusBuf *out)
{
    if (!out) {
        ZND_ERROR("out is NULL point");
        return ZND_ERR_COMMON;
    }
    const ClientRecord &c = g_znd.client;
    add_decimal(out, "accState", ZND_GetAccState());
    add_decimal(out, "accMode", (long)reported_mode());
    ZND_BusAddString(out, "uName", c.uname);
    ZND_BusAddString(out, "uPass", c.upass);
    add_decimal(out, "uType", c.ucVipType);
    add_decimal(out, "uConflict", c.ucAccTunState);
    ZND_BusAddString(out, "uExpire", c.ucExprtData);
    ZND_BusAddString(out, "uServerTime", c.ucSvrCurTime);
    if (c.mode == 0) {
        const AccNodeServer *node = ZND_MatchAccNode(c.node, c.nodename);
        if (node) {
            add_decimal(out, "accNodeId", (long)node->id);
            ZND_BusAddString(out, "accNodeName", node->cSvrName);
        }
    }
    return ZND_OK;
}

uint32_t ZND_ActionGetAccState(ZND_Params, ZND_BusBuf *out)
{
    if (!out) {
        ZND_ERROR("out is NULL point");
        return ZND_ERR_COMMON;
    }
    add_decimal(out, "status", (long)g_znd.curState);
    add_decimal(out, "accMode", (long)g_znd.curAccMode);
    add_decimal(out, "accState", ZND_GetAccState());
    ZND_BusAddString(out, "uName", g_znd.client.uname);
    ZND_BusAddString(out, "uPass", g_znd.client.upass);
    return ZND_OK;
}

uint32_t ZND_ActionGetNodeList(ZND_Params, ZND_BusBuf *out)
{
    if (!out) {
        ZND_ERROR("out is NULL point");
        return ZND_ERR_COMMON;
    }
    for (const AccNodeServer &n : g_znd.nodes) {
        if (n.id == 0)
            continue;
        ZND_BusOpenTable(out, nullptr);
        ZND_BusAddInt32(out, "nid", (int32_t)n.id);
        ZND_BusAddInt32(out, "rnid", 2);
        ZND_BusAddInt32(out, "lineweight", 3);
        ZND_BusAddInt32(out, "ord", 4);
        ZND_BusAddInt32(out, "ping", (int32_t)n.ping);
        ZND_BusAddInt32(out, "update", n.update);
        ZND_BusAddString(out, "servername", n.cSvrName);
        ZND_BusClose(out);
    }
    return ZND_OK;
}

uint32_t ZND_ActionFlushNodeList(ZND_Params, ZND_BusBuf *)
{
    ZND_KEYLOG("flush acc node");
    return ZND_GetAccNodes(&g_znd.client, g_znd.nodes);
}

uint32_t ZND_ActionGetAccResult(ZND_Params, ZND_BusBuf *out)
{
    const AccNodeServer *node = ZND_MatchAccNode(g_znd.client.node, g_znd.client.nodename);
    if (!node) {
        ZND_ERROR("None acc node list match");
        return ZND_ERR_COMMON;
    }
    if (!out) {
        ZND_ERROR("out is NULL point");
        return ZND_ERR_COMMON;
    }
    ZND_BusAddInt32(out, "ping", (int32_t)node->ping);
    ZND_BusAddString(out, "loss", node->id != 0 ? "0" : "100");
    ZND_BusOpenTable(out, "node");
    ZND_BusAddInt32(out, "nid", (int32_t)node->id);
    ZND_BusAddString(out, "servername", node->cSvrName);
    ZND_BusClose(out);

    static const char *const numerals[] = {"一", "二", "三", "四"};
    uint32_t mode = reported_mode();
    char text[64];
    snprintf(text, sizeof text, "模式%s", (mode >= 1 && mode <= 4) ? numerals[mode - 1] : "自动");
    ZND_BusOpenTable(out, "mode");
    ZND_BusAddInt32(out, "id", (int32_t)mode);
    ZND_BusAddString(out, "mode", text);
    ZND_BusClose(out);
    return ZND_OK;
}
