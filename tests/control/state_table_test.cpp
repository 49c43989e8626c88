// The state machine's tables: message id ranges, every cell of the transition table, the control
// commands, the acceleration status number and the status LED of each state.
#include <gtest/gtest.h>
#include <set>
#include <string>
#include "control/state.h"
#include "control_fixture.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "core/timer.h"
#include "harness/sandbox.h"
#include "tunnel/supervision.h"

namespace control_test {
namespace {

class StateTable : public ControlTest {
protected:
    // Puts state and last event in place directly, as if an action had left them.
    void Enter(uint32_t state, int32_t event = 0)
    {
        g_znd.curState = state;
        g_znd.lastEvent = event;
        g_znd.curAccMode = 0;
        log.Clear();
        sh.Clear();
    }
};

std::string refusal(const char *state, const char *event, const char *acc_state = "0")
{
    return std::string("{\"msg\":\"State machine can't deal this command\",\"status\":\"") + state +
           "\",\"event\":\"" + event + "\",\"accState\":\"" + acc_state + "\"}";
}

TEST(StateNames, StatesAndEvents)
{
    EXPECT_STREQ("INIT", ZND_GetStateName(1));
    EXPECT_STREQ("LOGING", ZND_GetStateName(2));
    EXPECT_STREQ("LOGIN_OK", ZND_GetStateName(3));
    EXPECT_STREQ("ACCING", ZND_GetStateName(4));
    EXPECT_STREQ("ACC_OK", ZND_GetStateName(5));
    for (uint32_t s : {0u, 6u, 100u, 0xFFFFFFFFu})
        EXPECT_STREQ("UNKNOWN", ZND_GetStateName(s)) << s;

    const char *names[] = {"init", "login", "logout", "login success", "login fail", "acc start", "acc stop",
                           "acc success", "acc fail", "acc restart", "get VANTO state", "get acc node list",
                           "flush acc node list", "Unknown event", "get current acc result info",
                           "get acc state", "abnormal disconnect", "force offline",
                           "net device interface change"};
    for (int e = 0; e <= 18; e++)
        EXPECT_STREQ(names[e], ZND_GetEventName(e)) << e;
    for (int e : {19, 998, 1001, -1})
        EXPECT_STREQ("Unknown event", ZND_GetEventName(e)) << e;
}

TEST_F(StateTable, IdsOutsideBothRangesAreInvalidCommands)
{
    for (uint32_t id : {0u, 999u, 1000u, 1999u, 5000u, 0xFFFFFFFFu}) {
        log.Clear();
        EXPECT_EQ(ZND_ERR_COMMAND, Send(id, {"alice", "secret"})) << id;
        EXPECT_EQ("{}", out) << id;
        EXPECT_EQ(0u, log.lines().size()) << id;
        EXPECT_EQ(ZND_STATE_INIT, ZND_GetState());
    }
    EXPECT_TRUE(sh.commands().empty());
}

TEST_F(StateTable, ControlCommands)
{
    EXPECT_EQ(ZND_OK, Send(1001));
    EXPECT_EQ(1, ZND_IsDebugOn());
    EXPECT_EQ(ZND_OK, Send(1002));
    EXPECT_EQ(0, ZND_IsDebugOn());
    EXPECT_EQ(ZND_OK, Send(1004));
    for (uint32_t id : {1005u, 1500u, 1998u})
        EXPECT_EQ(ZND_ERR_CTRL_COMMAND, Send(id)) << id;
    EXPECT_EQ("{}", out);
    // Control commands are taken in any state, also one the state machine does not handle.
    Enter(ZND_STATE_LOGING);
    EXPECT_EQ(ZND_OK, Send(1001));
    EXPECT_EQ(1, ZND_IsDebugOn());
    EXPECT_EQ(ZND_STATE_LOGING, ZND_GetState());
}

TEST_F(StateTable, ControlCommandUpdatesTheLoginRoutesFromTheCloud)
{
    EXPECT_EQ(ZND_OK, Send(1003));
    EXPECT_EQ((std::vector<std::string>{"198.51.100.0/255.255.255.0", "203.0.113.0/255.255.255.0"}),
              LoginRoutes());
    CloudDown("/api/gamelist");
    EXPECT_EQ(ZND_ERR_SERVER_NETWORK, Send(1003));
    EXPECT_NE(std::string::npos, KeyLog().find("]: login route failed code: 11\n"));
    EXPECT_EQ(2u, LoginRoutes().size());
}

// The handled cells with empty parameter slots: the result each action gives then, and the state
// it leaves. Every other cell is refused.
struct Cell {
    uint32_t state;
    int32_t event;
    uint32_t result;
    uint32_t next;
};

const Cell kHandled[] = {
    {ZND_STATE_INIT, 1, ZND_ERR_COMMON, ZND_STATE_INIT},   // Login without parameters
    {ZND_STATE_INIT, 10, ZND_OK, ZND_STATE_INIT},
    {ZND_STATE_LOGIN_OK, 2, ZND_OK, ZND_STATE_INIT},
    {ZND_STATE_LOGIN_OK, 5, ZND_ERR_COMMAND, ZND_STATE_LOGIN_OK},   // AccStart without parameters
    {ZND_STATE_LOGIN_OK, 10, ZND_OK, ZND_STATE_LOGIN_OK},
    {ZND_STATE_LOGIN_OK, 11, ZND_OK, ZND_STATE_LOGIN_OK},
    {ZND_STATE_LOGIN_OK, 12, ZND_OK, ZND_STATE_LOGIN_OK},
    {ZND_STATE_LOGIN_OK, 14, ZND_OK, ZND_STATE_LOGIN_OK},
    {ZND_STATE_LOGIN_OK, 15, ZND_OK, ZND_STATE_LOGIN_OK},
    {ZND_STATE_LOGIN_OK, 17, ZND_OK, ZND_STATE_LOGIN_OK},
    {ZND_STATE_ACCING, 2, ZND_OK, ZND_STATE_INIT},
    {ZND_STATE_ACCING, 6, ZND_OK, ZND_STATE_LOGIN_OK},
    {ZND_STATE_ACCING, 7, ZND_OK, ZND_STATE_ACC_OK},
    {ZND_STATE_ACCING, 8, ZND_OK, ZND_STATE_LOGIN_OK},
    {ZND_STATE_ACCING, 10, ZND_OK, ZND_STATE_ACCING},
    {ZND_STATE_ACC_OK, 2, ZND_OK, ZND_STATE_INIT},
    {ZND_STATE_ACC_OK, 5, ZND_ERR_COMMAND, ZND_STATE_LOGIN_OK},   // stopped, then no parameters to start
    {ZND_STATE_ACC_OK, 6, ZND_OK, ZND_STATE_LOGIN_OK},
    {ZND_STATE_ACC_OK, 9, ZND_ERR_COMMAND, ZND_STATE_LOGIN_OK},
    {ZND_STATE_ACC_OK, 10, ZND_OK, ZND_STATE_ACC_OK},
    {ZND_STATE_ACC_OK, 11, ZND_OK, ZND_STATE_ACC_OK},
    {ZND_STATE_ACC_OK, 12, ZND_OK, ZND_STATE_ACC_OK},
    {ZND_STATE_ACC_OK, 14, ZND_OK, ZND_STATE_ACC_OK},
    {ZND_STATE_ACC_OK, 15, ZND_OK, ZND_STATE_ACC_OK},
    {ZND_STATE_ACC_OK, 16, ZND_OK, ZND_STATE_LOGIN_OK},
    {ZND_STATE_ACC_OK, 18, ZND_ERR_ARG, ZND_STATE_ACC_OK},   // NetDevChange without parameters
};

const Cell *handled(uint32_t state, int32_t event)
{
    for (const Cell &c : kHandled)
        if (c.state == state && c.event == event)
            return &c;
    return nullptr;
}

TEST_F(StateTable, EveryCellOfTheTransitionTable)
{
    std::vector<int32_t> events;
    for (int32_t e = 0; e <= 20; e++)
        events.push_back(e);
    events.push_back(500);
    events.push_back(998);
    for (uint32_t state : {ZND_STATE_INIT, ZND_STATE_LOGIN_OK, ZND_STATE_ACCING, ZND_STATE_ACC_OK}) {
        for (int32_t event : events) {
            SCOPED_TRACE(std::string(ZND_GetStateName(state)) + " / " + std::to_string(event));
            Enter(state);
            uint32_t code = SendEvent(event);
            if (const Cell *cell = handled(state, event)) {
                EXPECT_EQ(cell->result, code);
                EXPECT_EQ(cell->next, ZND_GetState());
                EXPECT_FALSE(log.Has("invalid event"));
                continue;
            }
            EXPECT_EQ(ZND_ERR_STATE_REFUSED, code);
            EXPECT_EQ(state, ZND_GetState());
            EXPECT_EQ(0, ZND_GetLastEvent());
            EXPECT_EQ(refusal(ZND_GetStateName(state), ZND_GetEventName(event)), out);
            EXPECT_TRUE(log.Has(std::string("[ZND_ERROR]  state: ") + ZND_GetStateName(state) +
                                ", invalid event: " + ZND_GetEventName(event) + "  [line:"));
            EXPECT_EQ(1u, log.lines().size());
            EXPECT_EQ(0u, sh.commands().size()) << "a refused event runs nothing";
        }
    }
}

// LOGIN_OK takes a net device change only while supervision waits for a lost WAN to come back.
TEST_F(StateTable, LoginOkTakesNetDeviceChangesOnlyWhileTheWanIsAwaited)
{
    for (int32_t last : {ZND_EVT_LOGIN, ZND_EVT_ACC_STOP, ZND_EVT_ACC_FAIL, ZND_EVT_ABNORMAL_DISCONNECT}) {
        Enter(ZND_STATE_LOGIN_OK, last);
        EXPECT_EQ(ZND_ERR_STATE_REFUSED, Send(ZND_EVT_NET_DEV_CHANGE, {"wan", "up"})) << last;
        EXPECT_TRUE(log.Has("state: LOGIN_OK, invalid event: net device interface change")) << last;
    }
    Enter(ZND_STATE_LOGIN_OK, ZND_EVT_ABNORMAL_DISCONNECT);
    ZND_SetAccTimer(ZND_AccReconnTimeHandler, 30000);
    EXPECT_EQ(ZND_ERR_ARG, Send(ZND_EVT_NET_DEV_CHANGE));
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_NET_DEV_CHANGE, {"wan", "up"}));
    EXPECT_EQ(0, ZND_TimeoutRemaining(&g_znd.accTimer));
    EXPECT_FALSE(log.Has("invalid event"));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ABNORMAL_DISCONNECT, ZND_GetLastEvent());
    ZND_TimeoutCancel(&g_znd.accTimer);
}

TEST_F(StateTable, RefusalReportsTheAccelerationStatus)
{
    Enter(ZND_STATE_ACC_OK, ZND_EVT_ACC_SUCCESS);
    EXPECT_EQ(ZND_ERR_STATE_REFUSED, Send(ZND_EVT_LOGIN, {"alice", "secret"}));
    EXPECT_EQ(refusal("ACC_OK", "login", "1"), out);

    Enter(ZND_STATE_LOGIN_OK, ZND_EVT_ABNORMAL_DISCONNECT);
    EXPECT_EQ(ZND_ERR_STATE_REFUSED, Send(ZND_EVT_ACC_STOP));
    EXPECT_EQ(refusal("LOGIN_OK", "acc stop", "3"), out);
}

TEST_F(StateTable, TimerEventRefusedWithoutOutputTable)
{
    Enter(ZND_STATE_ACC_OK, ZND_EVT_ACC_SUCCESS);
    EXPECT_EQ(ZND_ERR_STATE_REFUSED, Post(ZND_EVT_ACC_FAIL));
    int null_out = log.IndexOf("[ZND_ERROR]  out is NULL point  [line:");
    ASSERT_GE(null_out, 0);
    EXPECT_GT(log.IndexOf("[ZND_ERROR]  state: ACC_OK, invalid event: acc fail  [line:"), null_out);
    EXPECT_EQ(ZND_STATE_ACC_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_SUCCESS, ZND_GetLastEvent());
}

TEST_F(StateTable, LogingAndUnknownStatesAnswerMachineStateError)
{
    for (uint32_t state : {(uint32_t)ZND_STATE_LOGING, 0u, 6u, 77u}) {
        for (int32_t event : {1, 2, 10, 15, 500}) {
            Enter(state);
            EXPECT_EQ(ZND_ERR_MACHINE_STATE, Send((uint32_t)event, {"alice", "secret"})) << state << "/" << event;
            EXPECT_EQ("{}", out);
            EXPECT_TRUE(log.Has(std::string("[ZND_ERROR]  state: ") + ZND_GetStateName(state) +
                                ", invalid event: " + ZND_GetEventName(event) + "  [line:"));
            EXPECT_EQ(state, ZND_GetState());
            EXPECT_EQ(0u, sh.commands().size());
        }
    }
}

TEST_F(StateTable, AccStateForEachRow)
{
    struct Row {
        uint32_t state;
        int32_t event;
        bool wan;
        int acc_state;
        bool probes;
    } rows[] = {
        {ZND_STATE_ACC_OK, 7, true, 1, false},    {ZND_STATE_ACC_OK, 5, true, 0, false},
        {ZND_STATE_ACC_OK, 16, true, 0, false},   {ZND_STATE_LOGIN_OK, 8, true, 2, true},
        {ZND_STATE_LOGIN_OK, 8, false, 3, true},  {ZND_STATE_LOGIN_OK, 16, true, 3, false},
        {ZND_STATE_LOGIN_OK, 1, true, 0, false},  {ZND_STATE_LOGIN_OK, 6, false, 0, false},
        {ZND_STATE_INIT, 8, true, 0, false},      {ZND_STATE_INIT, 16, true, 0, false},
        {ZND_STATE_ACCING, 7, true, 0, false},    {ZND_STATE_ACCING, 8, true, 0, false},
        {ZND_STATE_LOGING, 7, true, 0, false},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(std::string(ZND_GetStateName(r.state)) + " / " + std::to_string(r.event));
        Enter(r.state, r.event);
        WanUp(r.wan);
        EXPECT_EQ(r.acc_state, ZND_GetAccState());
        size_t pings = sh.Count("ping -q -c 1 -W 1 ");
        if (!r.probes)
            EXPECT_EQ(0u, pings);
        else if (r.wan)
            EXPECT_EQ(1u, pings) << "the first resolver that answers is enough";
        else
            EXPECT_EQ(5u, pings) << "every resolver is tried";
    }
}

TEST_F(StateTable, LedCommandsPerState)
{
    const std::string reload = "/etc/init.d/led reload >/dev/null &";
    const std::vector<std::string> acc_ok = {
        "[ -e /sys/class/leds/state_b/brightness ] && echo 0 > /sys/class/leds/state_b/brightness",
        "[ -e /sys/class/leds/state_g/brightness ] && echo 0 > /sys/class/leds/state_g/brightness",
        "[ -e /sys/class/leds/state_g/brightness ] && echo 1 > /sys/class/leds/state_g/brightness",
    };
    struct {
        uint32_t state;
        std::vector<std::string> commands;
    } rows[] = {
        {ZND_STATE_INIT, {reload}},  {ZND_STATE_LOGING, {}},   {ZND_STATE_LOGIN_OK, {reload}},
        {ZND_STATE_ACCING, {}},      {ZND_STATE_ACC_OK, acc_ok}, {9, {}},
    };
    for (const auto &r : rows) {
        sh.Clear();
        ZND_SetState(r.state, ZND_EVT_LOGIN);
        EXPECT_EQ(r.commands, sh.commands()) << r.state;
        EXPECT_EQ(r.state, ZND_GetState());
        EXPECT_EQ(ZND_EVT_LOGIN, ZND_GetLastEvent());
    }
    // An abnormal disconnect changes state and reason but leaves the LED as it is.
    sh.Clear();
    ZND_SetState(ZND_STATE_LOGIN_OK, ZND_EVT_ABNORMAL_DISCONNECT);
    EXPECT_TRUE(sh.commands().empty());
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ABNORMAL_DISCONNECT, ZND_GetLastEvent());
    ZND_SetLastEvent(ZND_EVT_ACC_FAIL);
    EXPECT_EQ(ZND_EVT_ACC_FAIL, ZND_GetLastEvent());
}

} // namespace
} // namespace control_test
