// Each action of the state machine: the calls it makes, the state and last event it leaves, the
// reply fields it writes, the LED commands and the LAN notifications it sends.
#include <gtest/gtest.h>
#include <linux/rtnetlink.h>
#include <string>
#include "cloud/node.h"
#include "control/state.h"
#include "control_fixture.h"
#include "core/context.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/result.h"
#include "harness/fake_clock.h"
#include "harness/sandbox.h"
#include "tunnel/supervision.h"

namespace control_test {
namespace {

const char kLoginFields[] = "\"uName\":\"alice\",\"uPass\":\"secret\",\"uType\":\"13\",\"uConflict\":\"0\","
                            "\"uExpire\":\"2027-01-31_23:59:59\",\"uServerTime\":\"2026-12-08_10:00:00\"";
const std::string kReload = "/etc/init.d/led reload >/dev/null &";

class Actions : public ControlTest {
protected:
    std::vector<uint32_t> NodeIds() const
    {
        std::vector<uint32_t> ids;
        for (const AccNodeServer &n : g_znd.nodes)
            ids.push_back(n.id);
        return ids;
    }
    // Kinds of the kernel route requests made so far (RTM_NEWROUTE / RTM_DELROUTE).
    std::vector<int> RouteRequests() const
    {
        std::vector<int> kinds;
        for (const auto &r : rtnl.requests) {
            const struct nlmsghdr *n = reinterpret_cast<const struct nlmsghdr *>(r.data());
            kinds.push_back(n->nlmsg_type);
        }
        return kinds;
    }
    bool HasKeyLog(const std::string &entry) const
    {
        return KeyLog().find("]: " + entry + "\n") != std::string::npos;
    }
    void SetNode(int slot, uint32_t id, const char *name, uint32_t ping, int8_t update = 0)
    {
        AccNodeServer &n = g_znd.nodes[slot];
        n.id = id;
        snprintf(n.cSvrName, sizeof n.cSvrName, "%s", name);
        snprintf(n.cSvrIpv4, sizeof n.cSvrIpv4, "198.51.100.%u", id);
        snprintf(n.cOpenVpnDev, sizeof n.cOpenVpnDev, "tun");
        n.ulOpenVpnPort = 1194;
        n.ping = ping;
        n.update = update;
    }

    FakeClock clock;
};

// ---- Login ----

TEST_F(Actions, LoginWithNodeListEndsInLoginOkAndTakesTheCloudLoginRoutes)
{
    SetLoginRoutes({"10.0.0.0:255.0.0.0", "10.99.0.0:255.255.0.0"});
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_LOGIN, {"alice", "secret"}));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_LOGIN, ZND_GetLastEvent());
    EXPECT_EQ(std::string("{") + kLoginFields + ",\"realIp\":\"203.0.113.7\"}", out);

    std::vector<std::string> curls = sh.Matching("curl ");
    ASSERT_EQ(3u, curls.size());
    EXPECT_EQ("user = \"alice:secret\"\nmax-filesize = 262144\n", sh.InputOf("/api/softlogin"));
    EXPECT_NE(std::string::npos, curls[0].find("/api/softlogin"));
    EXPECT_NE(std::string::npos, curls[1].find("/api/cfgcontrol"));
    EXPECT_NE(std::string::npos, curls[2].find("/api/gamelist"));

    EXPECT_EQ((std::vector<uint32_t>{7, 8, 9, 0, 0, 0, 0, 0, 0, 0}), NodeIds());
    EXPECT_EQ((std::vector<std::string>{"198.51.100.0/255.255.255.0", "203.0.113.0/255.255.255.0"}),
              LoginRoutes());
    EXPECT_TRUE(log.Has("[ZND_INFO]  not acc ok, no need update kernel route table  [line:"));
    EXPECT_TRUE(rtnl.requests.empty()) << "outside ACC_OK the kernel table is left alone";
    EXPECT_EQ(std::vector<std::string>{kReload}, LedCommands());
    EXPECT_TRUE(HasKeyLog("login success"));
    EXPECT_TRUE(Notifications().empty());
}

TEST_F(Actions, RefusedLoginLeavesTheStateAndStillAnswersTheFields)
{
    cloud.login = kLoginRefused;
    EXPECT_EQ(ZND_ERR_USER_ACCOUNT, Send(ZND_EVT_LOGIN, {"alice", "wrong"}));
    EXPECT_EQ(ZND_STATE_INIT, ZND_GetState());
    EXPECT_EQ(0, ZND_GetLastEvent());
    EXPECT_EQ("{\"uName\":\"alice\",\"uPass\":\"wrong\",\"uType\":\"0\",\"uConflict\":\"0\",\"uExpire\":\"\","
              "\"uServerTime\":\"\",\"realIp\":\"\"}",
              out);
    EXPECT_TRUE(HasKeyLog("login failed, code: 12"));
    EXPECT_FALSE(HasKeyLog("login success"));
    EXPECT_EQ(0u, CloudCalls("/api/cfgcontrol"));
    EXPECT_EQ(1u, CloudCalls("/api/gamelist")) << "the login routes are fetched whatever the outcome";
    EXPECT_TRUE(LedCommands().empty());
}

TEST_F(Actions, LoginWhoseNodeListFailsStaysInInit)
{
    CloudDown("/api/cfgcontrol");
    EXPECT_EQ(ZND_ERR_SERVER_NETWORK, Send(ZND_EVT_LOGIN, {"alice", "secret"}));
    EXPECT_EQ(ZND_STATE_INIT, ZND_GetState());
    EXPECT_EQ(3u, CloudCalls("/api/cfgcontrol")) << "every cloud server is asked";
    EXPECT_TRUE(log.Has("[ZND_ERROR]  login ZND_GetAccNodes failed!  [line:"));
    EXPECT_TRUE(HasKeyLog("login success"));
    EXPECT_TRUE(HasKeyLog("get acc nodes failed, code: 11"));
    EXPECT_EQ(std::string("{") + kLoginFields + ",\"realIp\":\"203.0.113.7\"}", out);
    EXPECT_TRUE(LedCommands().empty());
}

TEST_F(Actions, LoginRouteFailureKeepsTheOldRoutes)
{
    CloudDown("/api/gamelist");
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_LOGIN, {"alice", "secret"}));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_TRUE(HasKeyLog("login route failed code: 11"));
    EXPECT_EQ(std::vector<std::string>{"10.0.0.0/255.0.0.0"}, LoginRoutes());
}

TEST_F(Actions, LoginParameters)
{
    EXPECT_EQ(ZND_ERR_COMMON, Send(ZND_EVT_LOGIN, {"alice"}));
    EXPECT_EQ("{}", out);
    int parse = log.IndexOf("[ZND_ERROR]  parse user Account error  [line:");
    ASSERT_GE(parse, 0);
    EXPECT_GT(log.IndexOf("[ZND_ERROR]  Login username or password is NULL  [line:"), parse);
    EXPECT_EQ(0u, CloudCalls("curl "));
    EXPECT_STREQ("", g_znd.client.uname);

    std::string user(100, 'u'), pass(300, 'p');
    Send(ZND_EVT_LOGIN, {user.c_str(), pass.c_str()});
    EXPECT_EQ(std::string(64, 'u'), g_znd.client.uname);
    EXPECT_EQ(std::string(256, 'p'), g_znd.client.upass);
    EXPECT_NE(std::string::npos, out.find("\"uName\":\"" + std::string(64, 'u') + "\","));
}

TEST_F(Actions, LoginRouteUpdateInAccOkChangesOnlyTheDifference)
{
    ToAccOk();
    SetLoginRoutes({"10.0.0.0:255.0.0.0", "203.0.113.0:255.255.255.0"});
    rtnl.requests.clear();
    EXPECT_EQ(ZND_OK, Send(ZND_CTRL_LOGIN_ROUTE_UPDATE));
    EXPECT_TRUE(log.Has("[ZND_INFO]  acc ok, update kernel route table  [line:"));
    // 198.51.100.0/24 is new, 10.0.0.0/8 is no longer used.
    EXPECT_EQ((std::vector<int>{RTM_NEWROUTE, RTM_DELROUTE}), RouteRequests());
    EXPECT_EQ((std::vector<std::string>{"198.51.100.0/255.255.255.0", "203.0.113.0/255.255.255.0"}),
              LoginRoutes());
}

// ---- Logout ----

TEST_F(Actions, LogoutFromLoginOkSendsNoNotification)
{
    ToLoginOk();
    sh.Clear();
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_LOGOUT));
    EXPECT_EQ(ZND_STATE_INIT, ZND_GetState());
    EXPECT_EQ(ZND_EVT_LOGOUT, ZND_GetLastEvent());
    EXPECT_EQ("{}", out);
    EXPECT_TRUE(Notifications().empty());
    EXPECT_TRUE(HasKeyLog("logout"));
    EXPECT_EQ(std::vector<std::string>{kReload}, LedCommands());
    EXPECT_EQ((std::vector<uint32_t>(10, 0)), NodeIds());
    EXPECT_STREQ("alice", g_znd.client.uname) << "the credentials stay";
    EXPECT_STREQ("secret", g_znd.client.upass);
    EXPECT_TRUE(sh.Ran("ip route flush table login"));
    EXPECT_TRUE(sh.Ran("ip route flush table traffic"));
}

TEST_F(Actions, LogoutFromAccOkStopsAndNotifiesCodeZero)
{
    ToAccOk();
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_LOGOUT));
    EXPECT_EQ(ZND_STATE_INIT, ZND_GetState());
    EXPECT_EQ(std::vector<int>{0}, Notifications());
    EXPECT_TRUE(sh.Ran("/etc/init.d/openvpn stop"));
    EXPECT_FALSE(ZND_TimeoutPending(&g_znd.accTimer)) << "supervision ends";
}

TEST_F(Actions, LogoutWhoseStopFailsStillLogsOut)
{
    ToAccOk();
    g_znd.curAccMode = 5;
    EXPECT_EQ(ZND_ERR_COMMON, Send(ZND_EVT_LOGOUT));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  User logout failed  [line:"));
    EXPECT_EQ(ZND_STATE_INIT, ZND_GetState());
    EXPECT_EQ(std::vector<int>{0}, Notifications());
    EXPECT_EQ((std::vector<uint32_t>(10, 0)), NodeIds());
}

// ---- AccStart, dialing outcome ----

TEST_F(Actions, AccStartDialsAndTheDialCheckBringsAccOk)
{
    ToLoginOk();
    sh.Clear();
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_ACC_START, {"1", "8", "osaka", "1"}));
    EXPECT_EQ("{}", out);
    EXPECT_EQ(ZND_STATE_ACCING, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_START, ZND_GetLastEvent());
    EXPECT_EQ(1u, g_znd.client.mode);
    EXPECT_EQ(8u, g_znd.client.node);
    EXPECT_STREQ("osaka", g_znd.client.nodename);
    EXPECT_EQ(1u, g_znd.client.reconn);
    EXPECT_TRUE(HasKeyLog("acc start"));
    EXPECT_TRUE(LedCommands().empty()) << "ACCING has no LED command";
    EXPECT_EQ("alice\nsecret\n", ZND_TestReadFile(ZND_PATH_OPENVPN_USERPASS));
    EXPECT_NE(std::string::npos, ZND_TestReadFile("/etc/config/openvpn").find("198.51.100.8 1194"));
    EXPECT_EQ(1000, ZND_TimeoutRemaining(&g_znd.accTimer));

    // The tunnel answers at the first check: routes, then "acc success".
    sh.Clear();
    rtnl.requests.clear();
    clock.Advance(1000);
    EXPECT_EQ(ZND_STATE_ACC_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_SUCCESS, ZND_GetLastEvent());
    EXPECT_EQ((std::vector<int>{RTM_NEWROUTE, RTM_NEWROUTE, RTM_NEWROUTE}), RouteRequests())
        << "two login routes from the cloud, one traffic route";
    EXPECT_EQ(std::vector<int>{1}, Notifications());
    EXPECT_TRUE(HasKeyLog("acc success"));
    EXPECT_EQ(3u, LedCommands().size());
    EXPECT_EQ(5000, ZND_TimeoutRemaining(&g_znd.accTimer));
    EXPECT_EQ(ZND_AccReconnTimeHandler, g_znd.accTimer.cb);
    EXPECT_EQ(0u, g_znd.accDailTimerCount);
    EXPECT_EQ(0u, g_znd.accReconnCount);
}

TEST_F(Actions, AccStartParameters)
{
    ToLoginOk();
    EXPECT_EQ(ZND_ERR_COMMAND, Send(ZND_EVT_ACC_START, {"1", "7", "tokyo"}));
    EXPECT_EQ("{}", out);
    int parse = log.IndexOf("[ZND_ERROR]  parse AccSeting error  [line:");
    ASSERT_GE(parse, 0);
    EXPECT_GT(log.IndexOf("[ZND_ERROR]  parse acc setting error  [line:"), parse);
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(0u, g_znd.client.node);

    std::string name(100, 'n');
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_ACC_START, {"x", "7", name.c_str(), "on"}));
    EXPECT_EQ(0u, g_znd.client.mode) << "text that is not a number gives 0";
    EXPECT_EQ(0u, g_znd.client.reconn);
    EXPECT_EQ(std::string(64, 'n'), g_znd.client.nodename);

    // Numbers that do not fit are no valid choice, neither wrapped nor 0: mode -1 is not
    // automatic mode (nor 4294967297 OpenVPN) but refused; node -1 is not the best node, so the name
    // decides; reconnection -1 is on.
    ASSERT_EQ(ZND_OK, Send(ZND_EVT_ACC_STOP, {}));
    EXPECT_EQ(ZND_ERR_COMMON, Send(ZND_EVT_ACC_START, {"-1", "8", "osaka", "1"}));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  error acc mode!  [line:"));
    EXPECT_EQ(ZND_ERR_COMMON, Send(ZND_EVT_ACC_START, {"4294967297", "8", "osaka", "1"}));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    sh.Clear();
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_ACC_START, {"1", "-1", "osaka", "-1"}));
    EXPECT_NE(std::string::npos, ZND_TestReadFile("/etc/config/openvpn").find("198.51.100.8 1194"))
        << "osaka, not the best node tokyo";
    EXPECT_NE(0u, g_znd.client.reconn);
    ASSERT_EQ(ZND_OK, Send(ZND_EVT_ACC_STOP, {}));
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_ACC_START, {"1", "4294967296", "seoul", "4294967296"}));
    EXPECT_NE(std::string::npos, ZND_TestReadFile("/etc/config/openvpn").find("198.51.100.9 1194"));
    EXPECT_NE(0u, g_znd.client.reconn);
}

TEST_F(Actions, FailedAccStartLeavesLoginOkWithAccFail)
{
    ToLoginOk();
    sh.Clear();
    EXPECT_EQ(ZND_ERR_COMMON, Send(ZND_EVT_ACC_START, {"7", "7", "tokyo", "1"}));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_FAIL, ZND_GetLastEvent());
    EXPECT_TRUE(log.Has("[ZND_ERROR]  Acc start failed  [line:"));
    EXPECT_TRUE(HasKeyLog("acc start failed, code: 2"));
    EXPECT_EQ(std::vector<std::string>{kReload}, LedCommands());

    Send(ZND_EVT_GET_STATUS);
    EXPECT_EQ(0u, out.find("{\"accState\":\"2\",")) << out;
    WanUp(false);
    Send(ZND_EVT_GET_STATUS);
    EXPECT_EQ(0u, out.find("{\"accState\":\"3\",")) << out;
}

TEST_F(Actions, AccStartRefusedWhileTheTunnelIsUsedElsewhere)
{
    cloud.login = kLoginInUse;
    ToLoginOk();
    EXPECT_EQ(ZND_ERR_TUNNEL_USED, Send(ZND_EVT_ACC_START, {"1", "7", "tokyo", "1"}));
    EXPECT_EQ(2u, CloudCalls("/api/softlogin")) << "the account state is asked again first";
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_FAIL, ZND_GetLastEvent());
    EXPECT_TRUE(HasKeyLog("acc start failed, code: 16"));
}

TEST_F(Actions, DialingThatNeverAnswersEndsInAccFail)
{
    ToLoginOk();
    TunnelUp("tun0", false);
    ASSERT_EQ(ZND_OK, Send(ZND_EVT_ACC_START, {"1", "7", "tokyo", "1"}));
    sh.Clear();
    clock.Advance(14000);
    EXPECT_EQ(ZND_STATE_ACCING, ZND_GetState());
    clock.Advance(1000);
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_FAIL, ZND_GetLastEvent());
    EXPECT_TRUE(HasKeyLog("acc failed by dialing"));
    EXPECT_EQ(std::vector<int>{2}, Notifications());
    EXPECT_TRUE(sh.Ran("/etc/init.d/openvpn stop")) << "the failed tunnel is stopped";
    EXPECT_EQ(1u, CloudCalls("/api/softlogin")) << "the account state is refreshed";
    EXPECT_EQ(std::vector<std::string>{kReload}, LedCommands());
    EXPECT_FALSE(ZND_TimeoutPending(&g_znd.accTimer));
}

TEST_F(Actions, AccFailReportsATunnelUsedElsewhere)
{
    ToLoginOk();
    ASSERT_EQ(ZND_OK, Send(ZND_EVT_ACC_START, {"1", "7", "tokyo", "1"}));
    cloud.login = kLoginInUse;
    EXPECT_EQ(ZND_OK, Post(ZND_EVT_ACC_FAIL));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  this acc tunnel is used by other device!!  [line:"));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(1, g_znd.client.ucAccTunState);
}

// ---- AccStop, restart ----

TEST_F(Actions, AccStopInAccOk)
{
    ToAccOk();
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_ACC_STOP));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_STOP, ZND_GetLastEvent());
    EXPECT_EQ(std::vector<int>{0}, Notifications());
    EXPECT_TRUE(HasKeyLog("acc stop"));
    EXPECT_EQ(std::vector<std::string>{kReload}, LedCommands());
    EXPECT_TRUE(sh.Ran("/etc/init.d/openvpn stop"));
    EXPECT_TRUE(sh.Ran("ip route flush table login"));
    EXPECT_TRUE(sh.Ran("ip route flush table traffic"));
    EXPECT_FALSE(ZND_TimeoutPending(&g_znd.accTimer));
}

TEST_F(Actions, AccStopWhileDialingEndsTheDialCheck)
{
    ToLoginOk();
    ASSERT_EQ(ZND_OK, Send(ZND_EVT_ACC_START, {"1", "7", "tokyo", "1"}));
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_ACC_STOP));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_FALSE(ZND_TimeoutPending(&g_znd.accTimer));
    EXPECT_EQ(0, clock.Advance(20000));
}

TEST_F(Actions, AccStartOrRestartInAccOkStopsThenDialsWithTheNewSettings)
{
    for (uint32_t event : {ZND_EVT_ACC_START, ZND_EVT_ACC_RESTART}) {
        ToAccOk();
        EXPECT_EQ(ZND_OK, Send(event, {"3", "8", "osaka", "0"})) << event;
        EXPECT_EQ(ZND_STATE_ACCING, ZND_GetState());
        EXPECT_EQ(std::vector<int>{0}, Notifications());
        EXPECT_TRUE(sh.Ran("/etc/init.d/openvpn stop"));
        EXPECT_TRUE(sh.Ran("ifup -w vpn"));
        EXPECT_EQ(3u, g_znd.curAccMode);
        EXPECT_STREQ("l2tp-vpn", g_znd.client.accTun);
        EXPECT_NE(std::string::npos, ZND_TestReadFile("/etc/config/network").find("'l2tp'"));
        Send(ZND_EVT_LOGOUT);
    }
}

TEST_F(Actions, RestartWhoseStopFailsDoesNotStart)
{
    ToAccOk();
    g_znd.curAccMode = 5;
    std::string openvpn_before = ZND_TestReadFile("/etc/config/openvpn");
    EXPECT_EQ(ZND_ERR_COMMON, Send(ZND_EVT_ACC_RESTART, {"1", "8", "osaka", "1"}));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_STOP, ZND_GetLastEvent());
    EXPECT_EQ(2u, log.Count("[ZND_ERROR]  Acc stop failed  [line:"));
    EXPECT_EQ(std::vector<int>{0}, Notifications());
    EXPECT_EQ(7u, g_znd.client.node) << "the new settings were not even parsed";
    EXPECT_EQ(openvpn_before, ZND_TestReadFile("/etc/config/openvpn"));
    EXPECT_FALSE(sh.Ran("/etc/init.d/openvpn start"));
    EXPECT_EQ(0u, CloudCalls("curl "));
}

TEST_F(Actions, RestartRefusedInLoginOk)
{
    ToLoginOk();
    EXPECT_EQ(ZND_ERR_STATE_REFUSED, Send(ZND_EVT_ACC_RESTART, {"1", "7", "tokyo", "1"}));
    EXPECT_EQ("{\"msg\":\"State machine can't deal this command\",\"status\":\"LOGIN_OK\",\"event\":\"acc "
              "restart\",\"accState\":\"0\"}",
              out);
}

// ---- Abnormal disconnect and net device changes ----

TEST_F(Actions, AbnormalDisconnectLeavesTheLedAlone)
{
    ToAccOk();
    EXPECT_EQ(ZND_OK, Post(ZND_EVT_ABNORMAL_DISCONNECT));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ABNORMAL_DISCONNECT, ZND_GetLastEvent());
    EXPECT_TRUE(LedCommands().empty());
    EXPECT_EQ(std::vector<int>{3}, Notifications());
    EXPECT_TRUE(sh.Ran("/etc/init.d/openvpn stop"));
    EXPECT_EQ(3, ZND_GetAccState());
}

TEST_F(Actions, WanDownInAccOkEndsInLoginOkWithSupervisionIn30Seconds)
{
    ToAccOk();
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_NET_DEV_CHANGE, {"wan", "down"}));
    EXPECT_EQ("{}", out);
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ABNORMAL_DISCONNECT, ZND_GetLastEvent());
    EXPECT_TRUE(log.Has("[ZND_INFO]  netDevice change ifName(wan), action(down), accTun(tun0)  [line:"));
    EXPECT_TRUE(log.Has("[ZND_INFO]  wan down, network abnormal  [line:"));
    EXPECT_TRUE(HasKeyLog("notice wan network failed, code: 16"));
    EXPECT_TRUE(LedCommands().empty());
    EXPECT_EQ(std::vector<int>{3}, Notifications());
    EXPECT_EQ(30000, ZND_TimeoutRemaining(&g_znd.accTimer));
    EXPECT_EQ(ZND_AccReconnTimeHandler, g_znd.accTimer.cb);

    // Still no WAN 30 s later: checked again, told only once.
    WanUp(false);
    EXPECT_EQ(1, clock.Advance(30000));
    EXPECT_EQ(std::string::npos, KeyLog().find("check wan network failed"));
    EXPECT_EQ(30000, ZND_TimeoutRemaining(&g_znd.accTimer));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());

    // While supervision waits for the WAN, other changes leave the wait as it is...
    clock.Advance(10000);
    size_t pings = sh.Count("ping");
    for (auto change : {std::make_pair("wan", "down"), std::make_pair("tun0", "up"), std::make_pair("wwan", "up")}) {
        EXPECT_EQ(ZND_OK, Send(ZND_EVT_NET_DEV_CHANGE, {change.first, change.second})) << change.first;
        EXPECT_EQ(20000, ZND_TimeoutRemaining(&g_znd.accTimer)) << change.first;
    }
    EXPECT_EQ(ZND_ERR_ARG, Send(ZND_EVT_NET_DEV_CHANGE, {"wan"}));
    EXPECT_EQ(pings, sh.Count("ping"));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(3, ZND_GetAccState());
    // ...and the WAN's return runs the check at once: the tunnel is dialed again.
    WanUp(true);
    TunnelUp("tun0", false);
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_NET_DEV_CHANGE, {"wan", "up"}));
    EXPECT_TRUE(log.Has("[ZND_INFO]  wan up, check network now  [line:"));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState()) << "the check runs after the reply";
    EXPECT_EQ(0, ZND_TimeoutRemaining(&g_znd.accTimer));
    EXPECT_EQ(1, clock.Advance(0));
    EXPECT_EQ(ZND_STATE_ACCING, ZND_GetState());
    EXPECT_TRUE(HasKeyLog("reconn acc start"));
    EXPECT_EQ(1u, g_znd.accReconnCount);
    EXPECT_EQ(1000, ZND_TimeoutRemaining(&g_znd.accTimer));
    // Once acceleration is back, "wan" "up" is the plain net device change again.
    TunnelUp("tun0", true);
    clock.Advance(1000);
    ASSERT_EQ(ZND_STATE_ACC_OK, ZND_GetState());
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_NET_DEV_CHANGE, {"wan", "up"}));
    EXPECT_EQ(5000, ZND_TimeoutRemaining(&g_znd.accTimer));
}

TEST_F(Actions, WanUpWithAnEmptyLoginTableAddsTheLoginRoutes)
{
    ToAccOk();
    TableEmpty("login", false);
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_NET_DEV_CHANGE, {"wan", "up"}));
    EXPECT_TRUE(rtnl.requests.empty());

    TableEmpty("login", true);
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_NET_DEV_CHANGE, {"wan", "up"}));
    EXPECT_TRUE(log.Has("[ZND_INFO]  dev wan up, login route add  [line:"));
    EXPECT_EQ((std::vector<int>{RTM_NEWROUTE, RTM_NEWROUTE}), RouteRequests());
    EXPECT_EQ(ZND_STATE_ACC_OK, ZND_GetState());

    sh.On("ip route", 0, "");   // no default gateway
    TableEmpty("login", true);
    EXPECT_EQ(ZND_ERR_GATEWAY, Send(ZND_EVT_NET_DEV_CHANGE, {"wan", "up"}));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  dev wan up, login route add failed  [line:"));
}

TEST_F(Actions, TunnelDeviceUpWithAnEmptyTrafficTableAddsTheTrafficRoutes)
{
    ToAccOk();
    TableEmpty("traffic", true);
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_NET_DEV_CHANGE, {"tun0", "up"}));
    EXPECT_TRUE(log.Has("[ZND_INFO]  dev tun0 up, traffic route add  [line:"));
    EXPECT_EQ(std::vector<int>{RTM_NEWROUTE}, RouteRequests());

    rtnl.requests.clear();
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_NET_DEV_CHANGE, {"tun0", "down"}));
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_NET_DEV_CHANGE, {"lan", "up"}));
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_NET_DEV_CHANGE, {"wan", "restart"}));
    EXPECT_TRUE(rtnl.requests.empty());
    EXPECT_EQ(ZND_STATE_ACC_OK, ZND_GetState());

    EXPECT_EQ(ZND_ERR_ARG, Send(ZND_EVT_NET_DEV_CHANGE, {"wan"}));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  ifName or action is NULL  [line:"));
}

// ---- Force offline ----

TEST_F(Actions, ForceOfflineInLoginOk)
{
    cloud.login = kLoginInUse;
    ToLoginOk();
    sh.Clear();
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_FORCE_OFFLINE));
    EXPECT_EQ(1u, CloudCalls("/api/forceoffline"));
    EXPECT_EQ(0, g_znd.client.ucAccTunState);
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_LOGIN, ZND_GetLastEvent());
    EXPECT_EQ(std::vector<std::string>{kReload}, LedCommands());

    cloud.force_offline = "{\"code\":3}";
    ZND_SetLastEvent(ZND_EVT_ACC_FAIL);
    EXPECT_EQ(ZND_ERR_USER_ACCOUNT, Send(ZND_EVT_FORCE_OFFLINE));
    EXPECT_EQ(ZND_EVT_LOGIN, ZND_GetLastEvent());
}

// ---- Queries ----

TEST_F(Actions, GetStatusInAccOk)
{
    ToAccOk();
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_GET_STATUS));
    EXPECT_EQ(std::string("{\"accState\":\"1\",\"accMode\":\"1\",") + kLoginFields + "}", out);
}

TEST_F(Actions, GetStatusInAutomaticModeNamesTheNode)
{
    ToLoginOk();
    g_znd.client.mode = 0;
    g_znd.client.node = 8;
    g_znd.curAccMode = 2;
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_GET_STATUS));
    EXPECT_EQ(std::string("{\"accState\":\"0\",\"accMode\":\"2\",") + kLoginFields +
                  ",\"accNodeId\":\"8\",\"accNodeName\":\"osaka\"}",
              out);
}

TEST_F(Actions, GetAccStateInLoginOk)
{
    ToLoginOk();
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_GET_ACC_STATE));
    EXPECT_EQ("{\"status\":\"3\",\"accMode\":\"0\",\"accState\":\"0\",\"uName\":\"alice\",\"uPass\":\"secret\"}", out);
}

TEST_F(Actions, GetNodeListSkipsEmptyEntries)
{
    g_znd.curState = ZND_STATE_LOGIN_OK;
    SetNode(0, 7, "tokyo", 12);
    SetNode(2, 9, "seoul \"2\"", 40, 1);
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_GET_NODE_LIST));
    EXPECT_EQ("{{\"nid\":7,\"rnid\":2,\"lineweight\":3,\"ord\":4,\"ping\":12,\"update\":0,\"servername\":\"tokyo\"},"
              "{\"nid\":9,\"rnid\":2,\"lineweight\":3,\"ord\":4,\"ping\":40,\"update\":1,"
              "\"servername\":\"seoul \\\"2\\\"\"}}",
              out);
}

TEST_F(Actions, GetAccResult)
{
    g_znd.curState = ZND_STATE_LOGIN_OK;
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_GET_ACC_RESULT));
    EXPECT_EQ("{\"ping\":0,\"loss\":\"100\",\"node\":{\"nid\":0,\"servername\":\"\"},"
              "\"mode\":{\"id\":0,\"mode\":\"模式自动\"}}",
              out);

    SetNode(0, 7, "tokyo", 12);
    SetNode(1, 8, "osaka", 25);
    g_znd.client.node = 8;
    const char *numerals[] = {"一", "二", "三", "四"};
    for (uint32_t mode = 1; mode <= 4; mode++) {
        g_znd.client.mode = mode;
        EXPECT_EQ(ZND_OK, Send(ZND_EVT_GET_ACC_RESULT));
        EXPECT_EQ("{\"ping\":25,\"loss\":\"0\",\"node\":{\"nid\":8,\"servername\":\"osaka\"},\"mode\":{\"id\":" +
                      std::to_string(mode) + ",\"mode\":\"模式" + numerals[mode - 1] + "\"}}",
                  out);
    }
    // Automatic mode reports the mode in use; a name that matches nothing selects the first node.
    g_znd.client.mode = 0;
    g_znd.curAccMode = 4;
    g_znd.client.node = 99;
    snprintf(g_znd.client.nodename, sizeof g_znd.client.nodename, "nowhere");
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_GET_ACC_RESULT));
    EXPECT_EQ("{\"ping\":12,\"loss\":\"0\",\"node\":{\"nid\":7,\"servername\":\"tokyo\"},"
              "\"mode\":{\"id\":4,\"mode\":\"模式四\"}}",
              out);
}

TEST_F(Actions, FlushNodeListFetchesTheTableAgain)
{
    ToLoginOk();
    memset(g_znd.nodes, 0, sizeof g_znd.nodes);
    EXPECT_EQ(ZND_OK, Send(ZND_EVT_FLUSH_NODE_LIST));
    EXPECT_EQ((std::vector<uint32_t>{7, 8, 9, 0, 0, 0, 0, 0, 0, 0}), NodeIds());
    EXPECT_TRUE(HasKeyLog("flush acc node"));
    CloudDown("/api/cfgcontrol");
    EXPECT_EQ(ZND_ERR_SERVER_NETWORK, Send(ZND_EVT_FLUSH_NODE_LIST));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
}

} // namespace
} // namespace control_test
