// The control state machine: states, events, dispatch of events and control commands.
#pragma once
#include <cstdint>
#include "platform/bus.h"

enum : uint32_t {
    ZND_STATE_INIT = 1,
    ZND_STATE_LOGING = 2,
    ZND_STATE_LOGIN_OK = 3,
    ZND_STATE_ACCING = 4,
    ZND_STATE_ACC_OK = 5,
};

enum : int32_t {
    ZND_EVT_INIT = 0,
    ZND_EVT_LOGIN = 1,
    ZND_EVT_LOGOUT = 2,
    ZND_EVT_LOGIN_SUCCESS = 3,
    ZND_EVT_LOGIN_FAIL = 4,
    ZND_EVT_ACC_START = 5,
    ZND_EVT_ACC_STOP = 6,
    ZND_EVT_ACC_SUCCESS = 7,
    ZND_EVT_ACC_FAIL = 8,
    ZND_EVT_ACC_RESTART = 9,
    ZND_EVT_GET_STATUS = 10,
    ZND_EVT_GET_NODE_LIST = 11,
    ZND_EVT_FLUSH_NODE_LIST = 12,
    ZND_EVT_GET_ACC_RESULT = 14,
    ZND_EVT_GET_ACC_STATE = 15,
    ZND_EVT_ABNORMAL_DISCONNECT = 16,
    ZND_EVT_FORCE_OFFLINE = 17,
    ZND_EVT_NET_DEV_CHANGE = 18,
};

enum : uint32_t {
    ZND_CTRL_DEBUG_ON = 1001,
    ZND_CTRL_DEBUG_OFF = 1002,
    ZND_CTRL_LOGIN_ROUTE_UPDATE = 1003,
    ZND_CTRL_NOTHING = 1004,
};

#define ZND_PARAM_SLOTS 8

// The parameter slots of a request: ZND_PARAM_SLOTS texts, nullptr where absent. Events raised by
// timers pass no slots and no output table.
typedef const char *const *ZND_Params;

const char *ZND_GetStateName(uint32_t state);
const char *ZND_GetEventName(int32_t event);

uint32_t ZND_MsgDispatch(uint32_t id, ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_EventMsgHaldle(int32_t event, ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_CtrlMsgHandle(uint32_t id);
// The handlers of the four handled states; an event without an action there is refused with 34.
uint32_t ZND_StateInitHandle(int32_t event, ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_StateLoginOkHandle(int32_t event, ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_StateAccingHandle(int32_t event, ZND_Params params, ZND_BusBuf *out);
uint32_t ZND_StateAccOkHandle(int32_t event, ZND_Params params, ZND_BusBuf *out);
// The refusal of an event that the current state does not handle: the error reply, the log line,
// result 34; the state is unchanged.
uint32_t ZND_RefuseEvent(int32_t event, ZND_BusBuf *out);

void ZND_SetState(uint32_t state, int32_t event);
uint32_t ZND_GetState();
int32_t ZND_GetLastEvent();
void ZND_SetLastEvent(int32_t event);
void ZND_SetLedByState(uint32_t state);
// The acceleration status number reported as "accState".
int ZND_GetAccState();

// Registers the state machine as the receiver of the tunnel's outcomes; main calls it at start-up.
void ZND_StateInit();
