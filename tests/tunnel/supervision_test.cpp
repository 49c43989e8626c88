// Supervision of a working tunnel: the WAN check, the health check and the restarts, driven
// through the state machine with a manual clock; failed probes take their second each.
#include "control/state.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "tunnel/acc_fixture.h"
#include "tunnel/dial.h"
#include "tunnel/driver.h"

namespace {

using Supervision = AccFixture;

const char kOpenvpnStart[] = "sleep 2 && [ -e /var/run/zunaro-openvpn-start ] && /etc/init.d/openvpn start >/dev/null 2>&1 &";

TEST_F(Supervision, ReconnectionOffEndsAtTheFirstCheck)
{
    ReachAccOk(1, "tun0", 0);
    EXPECT_EQ(5000, ZND_TimeoutRemaining(&g_znd.accTimer));
    clock.Advance(5000);
    EXPECT_EQ(1u, WanProbes());
    EXPECT_EQ(0u, Probes("tun0"));
    EXPECT_FALSE(ZND_TimeoutPending(&g_znd.accTimer));
    clock.Advance(120000);
    EXPECT_EQ(1u, shell.commands().size());
    EXPECT_EQ(ZND_STATE_ACC_OK, ZND_GetState());
}

TEST_F(Supervision, HealthyTunnelIsCheckedEveryFiveSeconds)
{
    ReachAccOk(1, "tun0", 1);
    clock.Advance(25000);
    EXPECT_EQ(5u, WanProbes());
    EXPECT_EQ(5u, Probes("tun0"));
    EXPECT_EQ(5u, log.Count("[ZND_DBG]  Acc state is normal, reset the reconn timer"));
    EXPECT_EQ(5000, ZND_TimeoutRemaining(&g_znd.accTimer));
    EXPECT_EQ(0u, shell.Count(" start"));
    EXPECT_EQ(ZND_STATE_ACC_OK, ZND_GetState());
}

TEST_F(Supervision, LostWanIsReportedOnceAndRecheckedEveryThirtySeconds)
{
    ReachAccOk(1, "tun0", 1);
    WanAnswers(false);
    clock.Advance(5000);   // the check's five failed pings take until 10 s
    EXPECT_EQ(1u, KeyLogCount("check wan network failed, code: 16"));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ABNORMAL_DISCONNECT, ZND_GetLastEvent());
    EXPECT_EQ(1u, shell.Count("/etc/init.d/openvpn stop"));
    EXPECT_EQ(30000, ZND_TimeoutRemaining(&g_znd.accTimer));

    clock.Advance(70000);   // checks at 40 s and 75 s
    EXPECT_EQ(3u, WanProbes());
    EXPECT_EQ(1u, KeyLogCount("check wan network failed, code: 16"));
    EXPECT_EQ(0u, Probes("tun0"));
    EXPECT_EQ(0u, shell.Count(kOpenvpnStart));

    // The WAN is back: the stopped tunnel is inactive, so it is dialled again.
    WanAnswers(true);
    TunnelAnswersAfter("tun0", 1);
    clock.Advance(40000);
    EXPECT_EQ(1u, KeyLogCount("reconn acc start"));
    EXPECT_EQ(1u, shell.Count(kOpenvpnStart));
    EXPECT_EQ(ZND_STATE_ACC_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_SUCCESS, ZND_GetLastEvent());
    EXPECT_EQ(0u, g_znd.accReconnCount);
}

// While supervision dials a dropped tunnel again the state is ACCING; a WAN lost then ends the
// redial as it ends a working tunnel: once, with the tunnel stopped and the reason recorded.
TEST_F(Supervision, LostWanDuringARedialEndsItOnce)
{
    ReachAccOk(1, "tun0", 1);
    TunnelAnswers("tun0", false);
    clock.Advance(5000);
    ASSERT_EQ(ZND_STATE_ACCING, ZND_GetState());
    ASSERT_EQ(1u, KeyLogCount("reconn acc start"));
    size_t stops = shell.Count("/etc/init.d/openvpn stop");

    WanAnswers(false);
    clock.Advance(100000);   // the check 1 s after the restart, then two 30-second rechecks
    EXPECT_EQ(1u, KeyLogCount("check wan network failed, code: 16")) << KeyLog();
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ABNORMAL_DISCONNECT, ZND_GetLastEvent());
    EXPECT_EQ(stops + 1, shell.Count("/etc/init.d/openvpn stop"));
    EXPECT_EQ(1u, KeyLogCount("reconn acc start"));
    EXPECT_EQ(0u, g_znd.accReconnCount);
    EXPECT_FALSE(log.Has("invalid event"));
    EXPECT_TRUE(ZND_TimeoutPending(&g_znd.accTimer)) << "rechecked while the WAN is gone";
}

TEST_F(Supervision, WanReportedByTheNetworkIsNotReportedAgain)
{
    ReachAccOk(3, "l2tp-vpn", 1);
    WanAnswers(false);
    const char *params[ZND_PARAM_SLOTS] = {"wan", "down"};
    EXPECT_EQ(ZND_OK, ZND_EventMsgHaldle(ZND_EVT_NET_DEV_CHANGE, params, nullptr));
    EXPECT_EQ(1u, KeyLogCount("notice wan network failed, code: 16"));
    EXPECT_EQ(ZND_EVT_ABNORMAL_DISCONNECT, ZND_GetLastEvent());
    clock.Advance(65000);   // checks at 30 s and 65 s
    EXPECT_EQ(2u, WanProbes());
    EXPECT_EQ(0u, KeyLogCount("check wan network failed, code: 16"));
    EXPECT_TRUE(ZND_TimeoutPending(&g_znd.accTimer));
}

// A failed check takes 6 s: the 1-second wait, then five pings of a second each. After an up the
// tunnel gets 15 checks before the next up; the drop itself was found by the 5-second check.
TEST_F(Supervision, TunnelBackAfterThreeRestartsGetsItsRoutesAgain)
{
    ReachAccOk(1, "tun0", 1);
    TunnelAnswersAfter("tun0", 1 + 15 + 15 + 1);
    clock.Advance(5000);
    EXPECT_EQ(ZND_STATE_ACCING, ZND_GetState());
    EXPECT_EQ(1u, g_znd.accReconnCount);
    EXPECT_EQ(1000, ZND_TimeoutRemaining(&g_znd.accTimer));
    clock.Advance(31 * 6000 + 1000);

    EXPECT_EQ(3u, KeyLogCount("reconn acc start"));
    EXPECT_EQ(3u, shell.Count(kOpenvpnStart));
    EXPECT_EQ(33u, Probes("tun0"));
    EXPECT_TRUE(log.Has("[ZND_DBG]  reconn [ZN_ACC_OPENVPN] count:3"));
    EXPECT_TRUE(log.Has("[ZND_DBG]  reconn success, add route ..."));
    EXPECT_EQ(1u, shell.Count("ip route flush table login"));
    EXPECT_EQ((size_t)(TEST_LOGIN_ROUTES + TEST_TRAFFIC_ROUTES), talk.requests.size());
    EXPECT_EQ(ZND_STATE_ACC_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_SUCCESS, ZND_GetLastEvent());
    EXPECT_EQ(0u, g_znd.accReconnCount);
    EXPECT_EQ(2u, KeyLogCount("acc success"));
    EXPECT_EQ(5000, ZND_TimeoutRemaining(&g_znd.accTimer));
}

// An L2TP dial of a few seconds: a second ifup would restart it, so it gets one.
TEST_F(Supervision, SlowDialIsProbedNotDialedAgain)
{
    ReachAccOk(3, "l2tp-vpn", 1);
    TunnelAnswersAfter("l2tp-vpn", 1 + 4);
    clock.Advance(5000);
    ASSERT_EQ(1u, shell.Count("ifup -w vpn"));
    for (int check = 1; check <= 4; check++) {
        clock.Advance(6000);
        EXPECT_EQ(ZND_STATE_ACCING, ZND_GetState()) << "check " << check;
        EXPECT_EQ(1000, ZND_TimeoutRemaining(&g_znd.accTimer)) << "check " << check;
    }
    clock.Advance(1000);

    EXPECT_EQ(1u, shell.Count("ifup -w vpn"));
    EXPECT_EQ(1u, KeyLogCount("reconn acc start"));
    EXPECT_EQ(6u, Probes("l2tp-vpn"));
    EXPECT_TRUE(log.Has("[ZND_DBG]  reconn success, add route ..."));
    EXPECT_EQ(ZND_STATE_ACC_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_SUCCESS, ZND_GetLastEvent());
    EXPECT_EQ(0u, g_znd.accReconnCount);
}

// The restart count moves with the ups, not with the checks between them.
TEST_F(Supervision, RestartCountCountsDials)
{
    ReachAccOk(4, "pptp-vpn", 1);
    TunnelAnswers("pptp-vpn", false);
    clock.Advance(5000);
    clock.Advance(14 * 6000);   // the 14 checks that the first dial still has
    EXPECT_EQ(1u, shell.Count("ifup -w vpn"));
    EXPECT_EQ(1u, g_znd.accReconnCount);
    EXPECT_EQ(15u, Probes("pptp-vpn"));
    EXPECT_EQ(ZND_STATE_ACCING, ZND_GetState());

    clock.Advance(1000);   // the 15th check closes the window: dial again
    EXPECT_EQ(2u, shell.Count("ifup -w vpn"));
    EXPECT_EQ(2u, g_znd.accReconnCount);
    EXPECT_EQ(2u, KeyLogCount("reconn acc start"));
    EXPECT_TRUE(log.Has("[ZND_DBG]  reconn [ZN_ACC_PPTP] count:2"));
    EXPECT_EQ(1000, ZND_TimeoutRemaining(&g_znd.accTimer));
}

// OpenVPN starts two seconds after its up, so the check one second after it cannot see it yet.
TEST_F(Supervision, OpenvpnRedialOfAnAnsweringNodeTakesOneRestart)
{
    ReachAccOk(1, "tun0", 1);
    TunnelAnswersAfter("tun0", 1 + 1);
    clock.Advance(5000);
    clock.Advance(6000 + 1000);

    EXPECT_EQ(1u, shell.Count(kOpenvpnStart));
    EXPECT_EQ(1u, KeyLogCount("reconn acc start"));
    EXPECT_EQ(3u, Probes("tun0"));
    EXPECT_EQ(ZND_STATE_ACC_OK, ZND_GetState());
    EXPECT_EQ(0u, g_znd.accReconnCount);
}

TEST_F(Supervision, TunnelThatNeverComesBackIsRestartedFifteenTimes)
{
    ReachAccOk(2, "ipsec0", 1);
    TunnelAnswers("ipsec0", false);
    clock.Advance(5000 + 15 * 15 * 6000);
    EXPECT_EQ(1u + 15 * 15, Probes("ipsec0"));
    EXPECT_EQ(15u, shell.Count("/etc/init.d/ipsec start"));
    EXPECT_EQ(15u, KeyLogCount("reconn acc start"));
    EXPECT_TRUE(log.Has("[ZND_DBG]  reconn [ZN_ACC_IPSEC] fail !!"));
    EXPECT_EQ(1u, KeyLogCount("reconn failed by retry"));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_FAIL, ZND_GetLastEvent());
    EXPECT_EQ(1u, shell.Count("/etc/init.d/ipsec stop"));
    EXPECT_FALSE(ZND_TimeoutPending(&g_znd.accTimer));
    clock.Advance(60000);
    EXPECT_EQ(1u + 15 * 15, Probes("ipsec0"));
}

TEST_F(Supervision, InvalidModeEndsAccelerationInsteadOfLeavingItUnwatched)
{
    ReachAccOk(1, "tun0", 1);
    g_znd.curAccMode = 9;
    clock.Advance(5000);
    EXPECT_TRUE(log.Has("[ZND_ERROR]  error acc mode!"));
    EXPECT_EQ(1u, KeyLogCount("reconn acc failed"));
    EXPECT_EQ(0u, g_znd.curAccMode);
    // The failure is taken by the state machine: every kind stopped, state LOGIN_OK.
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_FAIL, ZND_GetLastEvent());
    EXPECT_EQ(1u, shell.Count("/etc/init.d/ipsec stop"));
    EXPECT_FALSE(log.Has("invalid event"));
}

TEST_F(Supervision, StopEndsSupervision)
{
    ReachAccOk(4, "pptp-vpn", 1);
    EXPECT_EQ(ZND_OK, ZND_EventMsgHaldle(ZND_EVT_ACC_STOP, nullptr, nullptr));
    EXPECT_FALSE(ZND_TimeoutPending(&g_znd.accTimer));
    clock.Advance(60000);
    EXPECT_EQ(0u, WanProbes());
}

} // namespace
