// The control state machine: names, state changes with the status LED, the acceleration status,
// and the dispatch of events (through one handler table per state) and control commands.
#include "control/state.h"

#include <cstdio>
#include "control/actions_acc.h"
#include "control/actions_query.h"
#include "control/actions_session.h"
#include "control/request_params.h"
#include "core/context.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/result.h"
#include "tunnel/dial.h"
#include "tunnel/probe.h"

namespace {

const char *const g_state_names[] = {"INIT", "LOGING", "LOGIN_OK", "ACCING", "ACC_OK"};

const char *const g_event_names[] = {
    "init", "login", "logout", "login success", "login fail", "acc start", "acc stop",
    "acc success", "acc fail", "acc restart", "get VANTO state", "get acc node list",
    "flush acc node list", nullptr, "get current acc result info", "get acc state",
    "abnormal disconnect", "force offline", "net device interface change",
};

#define ZND_EVENT_COUNT 19

typedef uint32_t (*ZND_Action)(ZND_Params params, ZND_BusBuf *out);

// One row per handled state; an empty cell refuses the event.
struct ZND_StateHandler {
    uint32_t state;
    ZND_Action actions[ZND_EVENT_COUNT];
};

const ZND_StateHandler g_handlers[] = {
    {ZND_STATE_INIT,
     {nullptr, ZND_ActionLogin, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
      ZND_ActionGetVANTOState, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}},
    {ZND_STATE_LOGIN_OK,
     {nullptr, nullptr, ZND_ActionLogout, nullptr, nullptr, ZND_ActionAccStart, nullptr, nullptr, nullptr,
      nullptr, ZND_ActionGetVANTOState, ZND_ActionGetNodeList, ZND_ActionFlushNodeList, nullptr,
      ZND_ActionGetAccResult, ZND_ActionGetAccState, nullptr, ZND_ActionForceOffline,
      ZND_ActionNetDevChangeAfterLoss}},
    {ZND_STATE_ACCING,
     {nullptr, nullptr, ZND_ActionLogout, nullptr, nullptr, nullptr, ZND_ActionAccStop, ZND_ActionAccSuccess,
      ZND_ActionAccFail, nullptr, ZND_ActionGetVANTOState, nullptr, nullptr, nullptr, nullptr, nullptr,
      nullptr, nullptr, nullptr}},
    {ZND_STATE_ACC_OK,
     {nullptr, nullptr, ZND_ActionLogout, nullptr, nullptr, ZND_ActionAccRestart, ZND_ActionAccStop, nullptr,
      nullptr, ZND_ActionAccRestart, ZND_ActionGetVANTOState, ZND_ActionGetNodeList, ZND_ActionFlushNodeList,
      nullptr, ZND_ActionGetAccResult, ZND_ActionGetAccState, ZND_ActionWanAbnormalDisconnect, nullptr,
      ZND_ActionNetDevChange}},
};

uint32_t handle_in_state(const ZND_StateHandler &h, int32_t event, ZND_Params params, ZND_BusBuf *out)
{
    ZND_Action action = (event >= 0 && event < ZND_EVENT_COUNT) ? h.actions[event] : nullptr;
    if (action)
        return action(params, out);
    return ZND_RefuseEvent(event, out);
}

void led_write(const char *file, int value)
{
    char cmd[512];
    snprintf(cmd, sizeof cmd, "[ -e %s ] && echo %d > %s", file, value, file);
    ZND_System(cmd);
}

// Outcomes of dialing and supervision become events, or the acc-fail action where supervision
// has given up.
void on_acc_outcome(ZND_AccOutcome outcome)
{
    switch (outcome) {
    case ZND_ACC_DIALED:
        ZND_EventMsgHaldle(ZND_EVT_ACC_SUCCESS, nullptr, nullptr);
        break;
    case ZND_ACC_FAILED:
        ZND_EventMsgHaldle(ZND_EVT_ACC_FAIL, nullptr, nullptr);
        break;
    case ZND_ACC_WAN_LOST:
        // Once per loss; the checks that follow find the disconnect recorded. Supervision runs on
        // a working tunnel (ACC_OK) or one it is dialing again (ACCING); either is stopped and the
        // state becomes LOGIN_OK with the reason. ACCING refuses the "abnormal disconnect" event
        // of a request, but this is supervision's own tunnel: refusing it would leave the redial
        // stuck, the loss written to the key log again at every check.
        if (g_znd.lastEvent != ZND_EVT_ABNORMAL_DISCONNECT &&
            (g_znd.curState == ZND_STATE_ACC_OK || g_znd.curState == ZND_STATE_ACCING)) {
            ZND_KEYLOG("check wan network failed, code: %d", ZND_EVT_ABNORMAL_DISCONNECT);
            ZND_ActionWanAbnormalDisconnect(nullptr, nullptr);
        }
        break;
    case ZND_ACC_REDIALING:
        ZND_SetState(ZND_STATE_ACCING, ZND_EVT_ACC_START);
        break;
    case ZND_ACC_ABANDONED:
        // "acc fail" is an event of ACCING only, but a tunnel that supervision cannot start again
        // may be given up in ACC_OK, or in LOGIN_OK after a lost WAN: refusing it there would leave
        // a dead tunnel reported as working and unwatched. It is stopped as after a failed dial.
        ZND_ActionAccFail(nullptr, nullptr);
        break;
    }
}

} // namespace

void ZND_StateInit()
{
    ZND_AccSetReport(on_acc_outcome);
}

uint32_t ZND_StateInitHandle(int32_t event, ZND_Params params, ZND_BusBuf *out)
{
    return handle_in_state(g_handlers[0], event, params, out);
}

uint32_t ZND_StateLoginOkHandle(int32_t event, ZND_Params params, ZND_BusBuf *out)
{
    return handle_in_state(g_handlers[1], event, params, out);
}

uint32_t ZND_StateAccingHandle(int32_t event, ZND_Params params, ZND_BusBuf *out)
{
    return handle_in_state(g_handlers[2], event, params, out);
}

uint32_t ZND_StateAccOkHandle(int32_t event, ZND_Params params, ZND_BusBuf *out)
{
    return handle_in_state(g_handlers[3], event, params, out);
}

uint32_t ZND_RefuseEvent(int32_t event, ZND_BusBuf *out)
{
    ZND_BuildErrorResponse(event, ZND_ERR_STATE_REFUSED, out);
    ZND_ERROR("state: %s, invalid event: %s", ZND_GetStateName(g_znd.curState), ZND_GetEventName(event));
    return ZND_ERR_STATE_REFUSED;
}

const char *ZND_GetStateName(uint32_t state)
{
    if (state < ZND_STATE_INIT || state > ZND_STATE_ACC_OK)
        return "UNKNOWN";
    return g_state_names[state - 1];
}

const char *ZND_GetEventName(int32_t event)
{
    if (event < 0 || event >= ZND_EVENT_COUNT || !g_event_names[event])
        return "Unknown event";
    return g_event_names[event];
}

uint32_t ZND_EventMsgHaldle(int32_t event, ZND_Params params, ZND_BusBuf *out)
{
    switch (g_znd.curState) {
    case ZND_STATE_INIT:
        return ZND_StateInitHandle(event, params, out);
    case ZND_STATE_LOGIN_OK:
        return ZND_StateLoginOkHandle(event, params, out);
    case ZND_STATE_ACCING:
        return ZND_StateAccingHandle(event, params, out);
    case ZND_STATE_ACC_OK:
        return ZND_StateAccOkHandle(event, params, out);
    default:
        ZND_ERROR("state: %s, invalid event: %s", ZND_GetStateName(g_znd.curState), ZND_GetEventName(event));
        return ZND_ERR_MACHINE_STATE;
    }
}

uint32_t ZND_CtrlMsgHandle(uint32_t id)
{
    switch (id) {
    case ZND_CTRL_DEBUG_ON:
        ZND_DebugOn();
        return ZND_OK;
    case ZND_CTRL_DEBUG_OFF:
        ZND_DebugOff();
        return ZND_OK;
    case ZND_CTRL_LOGIN_ROUTE_UPDATE:
        return ZND_LoginRouteUpdateFromServer();
    case ZND_CTRL_NOTHING:
        return ZND_OK;
    default:
        return ZND_ERR_CTRL_COMMAND;
    }
}

uint32_t ZND_MsgDispatch(uint32_t id, ZND_Params params, ZND_BusBuf *out)
{
    if (id >= 1 && id <= 998)
        return ZND_EventMsgHaldle((int32_t)id, params, out);
    if (id >= 1001 && id <= 1998)
        return ZND_CtrlMsgHandle(id);
    return ZND_ERR_COMMAND;
}

void ZND_SetLedByState(uint32_t state)
{
    if (state == ZND_STATE_ACC_OK) {
        led_write(ZND_PATH_LED_STATE_B, 0);
        led_write(ZND_PATH_LED_STATE_G, 0);
        led_write(ZND_PATH_LED_STATE_G, 1);
    } else if (state == ZND_STATE_INIT || state == ZND_STATE_LOGIN_OK) {
        ZND_System(ZND_PATH_INIT_LED " reload >/dev/null &");
    }
}

void ZND_SetState(uint32_t state, int32_t event)
{
    g_znd.curState = state;
    if (event != ZND_EVT_ABNORMAL_DISCONNECT)
        ZND_SetLedByState(state);
    g_znd.lastEvent = event;
}

uint32_t ZND_GetState()
{
    return g_znd.curState;
}

int32_t ZND_GetLastEvent()
{
    return g_znd.lastEvent;
}

void ZND_SetLastEvent(int32_t event)
{
    g_znd.lastEvent = event;
}

int ZND_GetAccState()
{
    if (g_znd.curState == ZND_STATE_ACC_OK)
        return g_znd.lastEvent == ZND_EVT_ACC_SUCCESS ? 1 : 0;
    if (g_znd.curState == ZND_STATE_LOGIN_OK) {
        if (g_znd.lastEvent == ZND_EVT_ACC_FAIL)
            return ZND_IsWanActive() ? 2 : 3;
        if (g_znd.lastEvent == ZND_EVT_ABNORMAL_DISCONNECT)
            return 3;
    }
    return 0;
}
