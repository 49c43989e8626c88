// Acceleration start through the state machine: dial checks, automatic mode, route installation and
// the online check, with a manual clock and probes that take their time.
#include <arpa/inet.h>
#include "config/uci.h"
#include "control/state.h"
#include "core/context.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/result.h"
#include "harness/sandbox.h"
#include "tunnel/acc_fixture.h"
#include "tunnel/dial.h"
#include "tunnel/driver.h"

namespace {

using Dial = AccFixture;

const char kOpenvpnStart[] = "sleep 2 && [ -e /var/run/zunaro-openvpn-start ] && /etc/init.d/openvpn start >/dev/null 2>&1 &";
const char kOpenvpnStop[] = "/etc/init.d/openvpn stop >/dev/null 2>&1";
const char kIpsecStart[] = "/etc/init.d/ipsec start >/dev/null 2>&1 &";

// Requests of the recorder by table: 252 login, 251 traffic.
size_t Requests(const TalkRecorder &talk, unsigned char table)
{
    size_t n = 0;
    for (const auto &r : talk.requests)
        n += r.size() > 24 && r[20] == table;   // rtm_table follows the 16-byte header at offset 4
    return n;
}

TEST_F(Dial, TunnelThatNeverAnswersFailsAfterFifteenProbes)
{
    ASSERT_EQ(ZND_OK, AccStart(1));
    EXPECT_EQ(ZND_STATE_ACCING, ZND_GetState());
    EXPECT_EQ(1u, KeyLogCount("acc start"));
    EXPECT_EQ(1u, shell.Count(kOpenvpnStart));
    EXPECT_TRUE(log.Has("[ZND_DBG]  ZN_ACC_OPENVPN up ok!"));
    // The start itself stopped whatever ran before (every kind, as the mode was automatic).
    EXPECT_LT(CommandIndex(kOpenvpnStop), CommandIndex(kOpenvpnStart));
    shell.Clear();

    // One check a second after the start, then a second after each check's five failed pings.
    const int64_t last_check = 15 * 1000 + 14 * 5000;
    clock.Advance(last_check - 1);
    EXPECT_EQ(14u, Probes("tun0"));
    EXPECT_EQ(ZND_STATE_ACCING, ZND_GetState());
    EXPECT_TRUE(log.Has("[ZND_DBG]  timer:check ZN_ACC_OPENVPN count=14!"));
    EXPECT_EQ(0u, shell.Count(kOpenvpnStop));

    clock.Advance(1);
    EXPECT_EQ(15u, Probes("tun0"));
    EXPECT_TRUE(log.Has("[ZND_DBG]  accDailTimerCount == 15"));
    EXPECT_TRUE(log.Has("[ZND_DBG]  ZN_ACC_OPENVPN up fail!"));
    EXPECT_EQ(1u, KeyLogCount("acc failed by dialing"));
    // The acc-fail action stopped the tunnel and emptied the tables.
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_FAIL, ZND_GetLastEvent());
    EXPECT_EQ(1u, shell.Count(kOpenvpnStop));
    EXPECT_EQ(2u, shell.Count("ip route flush table "));
    EXPECT_FALSE(ZND_TimeoutPending(&g_znd.accTimer));
    EXPECT_TRUE(talk.requests.empty());
    clock.Advance(60000);
    EXPECT_EQ(15u, Probes("tun0"));
}

TEST_F(Dial, AnsweringTunnelGetsItsRoutesAndIsSupervised)
{
    TunnelAnswersAfter("pptp-vpn", 2);
    ASSERT_EQ(ZND_OK, AccStart(4, 1));
    clock.Advance(1000 + 5000 + 1000 + 5000 + 1000);
    EXPECT_EQ(3u, Probes("pptp-vpn"));
    EXPECT_TRUE(log.Has("[ZND_DBG]  time: ZN_ACC_PPTP ssucce!  goto add route ..."));
    EXPECT_TRUE(log.Has("[ZND_INFO]  login route table and traffic route table add ok"));
    EXPECT_EQ(ZND_STATE_ACC_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_SUCCESS, ZND_GetLastEvent());
    EXPECT_EQ(1u, KeyLogCount("acc success"));
    EXPECT_EQ(0u, g_znd.accDailTimerCount);
    EXPECT_STREQ("pptp-vpn", g_znd.client.accTun);

    // Tables emptied first, then every route of both sets, and the two policy rules.
    int flush = CommandIndex("ip route flush table traffic");
    int rule = CommandIndex("ip rule add fwmark 1 table traffic pref 100");
    ASSERT_GE(flush, 0);
    EXPECT_GT(CommandIndex("ip rule add from all lookup login pref 99"), flush);
    EXPECT_GT(rule, flush);
    EXPECT_EQ((size_t)TEST_LOGIN_ROUTES, Requests(talk, 252));
    EXPECT_EQ((size_t)TEST_TRAFFIC_ROUTES, Requests(talk, 251));

    // Supervision takes the timer over after five seconds.
    EXPECT_EQ(5000, ZND_TimeoutRemaining(&g_znd.accTimer));
    size_t wan = WanProbes();
    clock.Advance(5000);
    EXPECT_EQ(wan + 1, WanProbes());
    EXPECT_EQ(4u, Probes("pptp-vpn"));
}

TEST_F(Dial, RoutesThatCannotBeInstalledFailTheStart)
{
    ASSERT_EQ(0, ZND_TestSh("ip link del l2tp-vpn"));
    TunnelAnswers("l2tp-vpn");
    ASSERT_EQ(ZND_OK, AccStart(3));
    shell.Clear();
    clock.Advance(1000);
    EXPECT_TRUE(log.Has("[ZND_DBG]  add route fail!, goto set status ..."));
    EXPECT_EQ(1u, KeyLogCount("acc failed by route"));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_FAIL, ZND_GetLastEvent());
    // Login routes went in, then both tables were emptied again, then once more by the stop.
    EXPECT_EQ((size_t)TEST_LOGIN_ROUTES, Requests(talk, 252));
    EXPECT_EQ(3u, shell.Count("ip route flush table traffic"));
    EXPECT_EQ(1u, shell.Count("ifdown vpn"));
}

TEST_F(Dial, AutomaticModeMovesOnFromASilentOpenvpnToIpsec)
{
    TunnelAnswersAfter("ipsec0", 2);
    ASSERT_EQ(ZND_OK, AccStart(0, 1));
    EXPECT_EQ(1u, g_znd.curAccMode);
    EXPECT_EQ(1u, shell.Count(kOpenvpnStart));
    EXPECT_EQ(0u, shell.Count(kIpsecStart));

    clock.Advance(15 * 1000 + 14 * 5000);
    EXPECT_EQ(15u, Probes("tun0"));
    EXPECT_TRUE(log.Has("[ZND_DBG]  [AutoUp]:timer: ZN_ACC_OPENVPN fail, try next mode!"));
    int stop = CommandIndex(kOpenvpnStop), start = CommandIndex(kIpsecStart);
    ASSERT_GE(stop, 0);
    EXPECT_GT(start, stop) << "OpenVPN is brought down before IPsec starts";
    EXPECT_EQ(2u, g_znd.curAccMode);
    EXPECT_EQ(ZND_STATE_ACCING, ZND_GetState());

    // The last OpenVPN check spent its five seconds; IPsec's checks follow.
    clock.Advance(3 * 1000 + 2 * 5000);
    EXPECT_EQ(3u, Probes("ipsec0"));
    EXPECT_TRUE(log.Has("[ZND_DBG]  [AutoUp]: time: ZN_ACC_IPSEC ssucce!  goto add route ..."));
    EXPECT_EQ(ZND_STATE_ACC_OK, ZND_GetState());
    EXPECT_EQ(1u, KeyLogCount("acc success"));
    EXPECT_EQ(2u, g_znd.curAccMode);
    EXPECT_EQ(2u, ZND_GetAccMode());
    EXPECT_EQ(0u, Probes("l2tp-vpn"));
    EXPECT_STREQ("ipsec0", g_znd.client.accTun);
}

TEST_F(Dial, AutomaticModeWithEveryKindUnconfiguredFailsAtOnce)
{
    ASSERT_TRUE(ZND_TestWriteFile("/etc/config/openvpn", ""));
    ASSERT_TRUE(ZND_TestWriteFile("/etc/config/network", ""));
    ASSERT_EQ(0, unlink(ZND_PATH_IPSEC_CONF));
    EXPECT_EQ(ZND_ERR_COMMON, AccStart(0));
    EXPECT_EQ(4u, log.Count("[ZND_DBG]  [AutoUp]: accDailTimerCount[0] fail, try next mode"));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  [AutoUp]:error acc mode!,auto acc up fail 1 !"));
    EXPECT_EQ(1u, KeyLogCount("auto acc fail"));
    EXPECT_EQ(1u, KeyLogCount("acc start failed, code: 2"));
    EXPECT_EQ(0u, g_znd.curAccMode);
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_FAIL, ZND_GetLastEvent());
    EXPECT_FALSE(ZND_TimeoutPending(&g_znd.accTimer));
    EXPECT_EQ(0u, shell.Count(" start"));
    EXPECT_EQ(0u, shell.Count("ifup"));
}

TEST_F(Dial, AutomaticModeRefusesAnAddressThatIsNotIpv4BeforeConfiguringAnything)
{
    snprintf(g_znd.nodes[0].cSvrIpv4, sizeof g_znd.nodes[0].cSvrIpv4, "node.example.com");
    EXPECT_EQ(ZND_ERR_COMMON, AccStart(0));
    EXPECT_EQ(4u, log.Count("node address refused"));
    EXPECT_EQ(1u, KeyLogCount("auto acc fail"));
    EXPECT_EQ(kOpenvpnConfig, ZND_TestReadFile("/etc/config/openvpn"));
    EXPECT_EQ(kNetworkConfig, ZND_TestReadFile("/etc/config/network"));
    EXPECT_EQ(kIpsecConf, ZND_TestReadFile(ZND_PATH_IPSEC_CONF));
    EXPECT_FALSE(ZND_TestFileExists(ZND_PATH_OPENVPN_USERPASS));
    EXPECT_FALSE(ZND_TestFileExists(ZND_PATH_IPSEC_SECRETS));
    EXPECT_EQ(0u, g_znd.curAccMode);
}

TEST_F(Dial, SingleModeStartFailures)
{
    // An up operation that fails at once.
    snprintf(g_znd.nodes[0].cSvrIpv4, sizeof g_znd.nodes[0].cSvrIpv4, "203.0.113.300");
    EXPECT_EQ(ZND_ERR_COMMON, AccStart(2));
    EXPECT_TRUE(log.Has("[ZND_DBG]  ZN_ACC_IPSEC up fail!"));
    EXPECT_FALSE(ZND_TimeoutPending(&g_znd.accTimer));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());

    // A mode out of range keeps its value and dials nothing.
    log.Clear();
    g_znd.client.mode = 5;
    EXPECT_EQ(ZND_ERR_COMMON, ZND_AccUp(&g_znd.client, nullptr));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  error acc mode!"));
    EXPECT_EQ(5u, g_znd.curAccMode);
    EXPECT_EQ(ZND_ERR_COMMON, ZND_AccUp(nullptr, nullptr));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  the argument point is NULL!!"));
}

TEST_F(Dial, StartWhileDialingCancelsTheDialAndStopsTheOldTunnel)
{
    ASSERT_EQ(ZND_OK, AccStart(1));
    clock.Advance(1000);
    EXPECT_EQ(1u, Probes("tun0"));
    g_znd.client.mode = 3;
    ASSERT_EQ(ZND_OK, ZND_AccUp(&g_znd.client, nullptr));
    EXPECT_TRUE(log.Has("[ZND_DBG]   acc timeout cancel !!!"));
    int stop = CommandIndex(kOpenvpnStop), up = CommandIndex("ifup -w vpn >/dev/null 2>&1 &");
    ASSERT_GE(stop, 0);
    EXPECT_GT(up, stop);
    TunnelAnswers("l2tp-vpn");
    clock.Advance(1000);
    EXPECT_EQ(1u, Probes("tun0")) << "the old dial check is gone";
    EXPECT_EQ(1u, Probes("l2tp-vpn"));
    EXPECT_EQ(ZND_STATE_ACC_OK, ZND_GetState());
}

TEST_F(Dial, TunnelUsedElsewhereIsRefusedAfterAFreshLogin)
{
    // The cloud still says the tunnel runs on another device.
    shell.On("curl ", 0, "", [](const std::string &) {
        ZND_TestWriteFile(ZND_PATH_SERVER_REPLY, "Y|2030-01-01|x|100|x|2024-01-01 00:00:00|1|x|198.51.100.2|1");
    });
    g_znd.client.ucAccTunState = 1;
    g_znd.client.mode = 1;
    EXPECT_EQ(ZND_ERR_TUNNEL_USED, ZND_AccUp(&g_znd.client, nullptr));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  this acc tunnel is used by other device!!"));
    EXPECT_EQ(1u, shell.Count("/api/softlogin"));
    EXPECT_EQ(0u, shell.Count(kOpenvpnStart));

    // Once it is free, the start goes on.
    shell.On("curl ", 0, "", [](const std::string &) {
        ZND_TestWriteFile(ZND_PATH_SERVER_REPLY, "Y|2030-01-01|x|100|x|2024-01-01 00:00:00|1|x|198.51.100.2|0");
    });
    EXPECT_EQ(ZND_OK, ZND_AccUp(&g_znd.client, nullptr));
    EXPECT_EQ(1u, shell.Count(kOpenvpnStart));
}

TEST_F(Dial, OnlineCheckFindsTheKindThatAnswers)
{
    TunnelAnswers("pptp-vpn");
    EXPECT_EQ(ZND_OK, ZND_AccStatCheck(&g_znd.client, nullptr));
    EXPECT_EQ(4u, g_znd.curAccMode);
    for (const char *dev : {"tun0", "ipsec0", "l2tp-vpn", "pptp-vpn"})
        EXPECT_EQ(1u, Probes(dev)) << dev;
    EXPECT_TRUE(log.Has("[ZND_DBG]  ZN_ACC_PPTP acc online!"));
    EXPECT_TRUE(log.Has("[ZND_DBG]  Acc online ==>> ZN_ACC_PPTP!"));

    // A known mode probes only its own tunnel.
    shell.Clear();
    g_znd.curAccMode = 2;
    EXPECT_EQ(ZND_ERR_COMMON, ZND_AccStatCheck(&g_znd.client, nullptr));
    EXPECT_EQ(1u, Probes("ipsec0"));
    EXPECT_EQ(0u, Probes("pptp-vpn"));
    EXPECT_EQ(2u, g_znd.curAccMode);

    g_znd.curAccMode = 0;
    TunnelAnswers("pptp-vpn", false);
    EXPECT_EQ(ZND_ERR_COMMON, ZND_AccStatCheck(&g_znd.client, nullptr));
    EXPECT_EQ(0u, g_znd.curAccMode);
    EXPECT_TRUE(log.Has("[ZND_DBG]  Acc online ==>> ZN_ACC_AUTO!"));

    g_znd.curAccMode = 6;
    shell.Clear();
    EXPECT_EQ(ZND_ERR_COMMON, ZND_AccStatCheck(&g_znd.client, nullptr));
    EXPECT_TRUE(shell.commands().empty());
}

} // namespace
