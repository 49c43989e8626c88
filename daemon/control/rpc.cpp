// Requests in the style of JSON-RPC on the bus: parse, map the method to a message id, dispatch,
// and answer with "result" or "error" followed by "id".
#include "control/rpc.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include "control/state.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"

namespace {

enum { RPC_METHOD, RPC_PARAMS, RPC_ID, RPC_FIELDS };

const ZND_BusPolicy g_rpc_policy[RPC_FIELDS] = {
    {"method", ZND_BUS_STRING},
    {"params", ZND_BUS_ARRAY},
    {"id", ZND_BUS_INT32},
};

const ZND_BusPolicy g_param_policy[ZND_PARAM_SLOTS] = {
    {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING},
    {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING}, {nullptr, ZND_BUS_STRING},
};

struct ZND_RpcMethod {
    const char *name;
    uint32_t id;
};

const ZND_RpcMethod g_methods[] = {
    {"Login", 1},          {"Logout", 2},        {"AccStart", 5},      {"AccStop", 6},
    {"AccRestart", 9},     {"GetStatus", 10},    {"GetNodeList", 11},  {"GetPingTime", 14},
    {"FlushNodeList", 12}, {"GetAccResult", 14}, {"GetAccState", 15},  {"ForceOffLine", 17},
    {"NetDevChange", 18},  {"DebugOn", 1001},    {"DebugOff", 1002},
};

const ZND_BusMethod g_bus_methods[] = {
    ZND_BUS_METHOD("rpc", ZND_RequestHandler, g_rpc_policy),
};

ZND_BusObjectType g_bus_type = ZND_BUS_OBJECT_TYPE("zunaro", g_bus_methods);

const ZND_RpcMethod *find_method(const char *name)
{
    for (const auto &m : g_methods)
        if (strcmp(m.name, name) == 0)
            return &m;
    return nullptr;
}

} // namespace

void ZND_UbusInit()
{
    ZND_BusContext *ctx;
    while (!(ctx = ZND_BusConnect(nullptr))) {
        ZND_ERROR("Failed to connect to ubus, just retry");
        sleep(4);
    }
    ZND_BusAddUloop(ctx);
    g_znd.rpcObject.type = &g_bus_type;
    g_znd.rpcObject.methods = g_bus_methods;
    g_znd.rpcObject.n_methods = 1;
    int ret = ZND_BusAddObject(ctx, &g_znd.rpcObject);
    if (ret != ZND_BUS_STATUS_OK) {
        ZND_ERROR("Failed to add object: %s", ZND_BusStrError(ret));
        exit(1);
    }
    ZND_INFO("ubus init ok");
    g_znd.ubusCtx = ctx;
}

void ZND_UbusDeinit()
{
    if (g_znd.ubusCtx)
        ZND_BusFree(g_znd.ubusCtx);
    g_znd.ubusCtx = nullptr;
    ZND_BusBufFree(&g_znd.replyBuf);
}

int ZND_RequestHandler(ZND_BusContext *ctx, ZND_BusObject *, ZND_BusRequest *req, const char *,
                       ZND_BusMsg *msg)
{
    const char *params[ZND_PARAM_SLOTS] = {};
    ZND_BusBuf *result = &g_znd.resultBuf, *reply = &g_znd.replyBuf;
    ZND_BusBufInit(result);
    ZND_BusBufInit(reply);

    int32_t proto = 0, id = 0;
    uint32_t code = ZND_OK;
    ZND_BusMsg *tb[RPC_FIELDS];
    if (!msg || ZND_BusParse(g_rpc_policy, RPC_FIELDS, tb, msg) != 0) {
        ZND_ERROR("parse msg error!");
        proto = -32700;
    } else {
        id = tb[RPC_ID] ? ZND_BusGetInt32(tb[RPC_ID]) : 0;
        const ZND_RpcMethod *method = nullptr;
        ZND_BusMsg *slots[ZND_PARAM_SLOTS] = {};
        if (!tb[RPC_METHOD]) {
            ZND_ERROR("no method!");
            proto = -32601;
        } else if (!(method = find_method(ZND_BusGetString(tb[RPC_METHOD])))) {
            ZND_ERROR("method not found!");
            proto = -32601;
        } else if (tb[RPC_PARAMS] &&
                   ZND_BusParseArray(g_param_policy, ZND_PARAM_SLOTS, slots, tb[RPC_PARAMS]) != 0) {
            ZND_ERROR("parse params error!");
            proto = -32603;
        } else {
            for (int i = 0; i < ZND_PARAM_SLOTS; i++)
                params[i] = slots[i] ? ZND_BusGetString(slots[i]) : nullptr;
            ZND_DBG("method: %s  (id:%d)", method->name, id);
            ZND_DBG("argv: %s", params[0] ? params[0] : "");
            code = ZND_MsgDispatch(method->id, params, result);
        }
    }

    ZND_BusAddString(result, "status", ZND_GetStateName(g_znd.curState));
    if (proto == 0 && code == ZND_OK) {
        ZND_BusAddTable(reply, "result", ZND_BusBufMsg(result));
        ZND_BusAddInt32(reply, "id", id);
    } else {
        int32_t err = proto != 0 ? proto : (int32_t)code;
        ZND_BusOpenTable(reply, "error");
        ZND_BusAddInt32(reply, "code", err);
        ZND_BusAddString(reply, "message", ZND_GetErrorText((uint32_t)err));
        ZND_BusAddTable(reply, "data", ZND_BusBufMsg(result));
        ZND_BusClose(reply);
        ZND_DBG("id: %d", id);
        ZND_BusAddInt32(reply, "id", id);
    }
    ZND_BusBufFree(result);
    ZND_BusSendReply(ctx, req, ZND_BusBufMsg(reply));
    return 0;
}
