// The daemon getting acceleration back by itself: automatic mode moving on to the next tunnel
// kind, the WAN lost and back, and a crash of the daemon with the tunnel still up.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "router_session.h"

namespace e2e {
namespace {

bool Has(const std::string &text, const std::string &what)
{
    return text.find(what) != std::string::npos;
}

// Index of the first line at or after from that holds every text; -1 when there is none.
int FindLine(const std::vector<std::string> &lines, const std::vector<std::string> &texts, size_t from = 0)
{
    for (size_t i = from; i < lines.size(); i++) {
        bool all = true;
        for (const auto &t : texts)
            all = all && Has(lines[i], t);
        if (all)
            return (int)i;
    }
    return -1;
}

TEST_F(RouterSession, AutomaticModeMovesOnWhenOpenvpnNeverComesUp)
{
    ASSERT_EQ(0, Sim("fault tunnel openvpn never"));
    ASSERT_EQ("LOGIN_OK", Rpc("Login", {"demo", "zunaro-demo"}).Status());
    ASSERT_EQ("LOGIN_OK", Rpc("DebugOn").Status());
    ASSERT_EQ("ACCING", Rpc("AccStart", {"0", "0", "", "1"}).Status());
    // 15 probes of OpenVPN a second apart, then IPsec.
    ASSERT_TRUE(WaitForState("ACC_OK", 45000)) << Rpc("GetStatus").text;

    std::vector<std::string> services = ServicesLog();
    int dial = FindLine(services, {"\"service\": \"openvpn\"", "\"action\": \"start\"", "\"result\": \"never\""});
    ASSERT_GE(dial, 0);
    int stop = FindLine(services, {"\"service\": \"openvpn\"", "\"action\": \"stop\""}, dial);
    EXPECT_GT(stop, dial) << "OpenVPN is stopped before the next kind";
    int ipsec = FindLine(services, {"\"service\": \"ipsec\"", "\"action\": \"start\"", "\"result\": \"up\""}, dial);
    EXPECT_GT(ipsec, stop);
    EXPECT_EQ(-1, FindLine(services, {"\"service\": \"openvpn\"", "\"action\": \"start\""}, dial + 1))
        << "OpenVPN dialed once";

    std::string log = DaemonLog();
    EXPECT_TRUE(Has(log, "[AutoUp]:timer:check ZN_ACC_OPENVPN count=14!"));
    EXPECT_FALSE(Has(log, "[AutoUp]:timer:check ZN_ACC_OPENVPN count=15!"));
    EXPECT_TRUE(Has(log, "[AutoUp]:timer: ZN_ACC_OPENVPN fail, try next mode!"));
    EXPECT_TRUE(Has(log, "[AutoUp]: time: ZN_ACC_IPSEC ssucce!  goto add route ..."));

    Reply status = Rpc("GetStatus");
    EXPECT_EQ("1", status.Get("result.accState")) << status.text;
    EXPECT_EQ("2", status.Get("result.accMode")) << "the mode that worked";
    EXPECT_EQ("模式二", Rpc("GetAccResult").Get("result.mode.mode"));
    std::vector<std::string> traffic = Routes(251);
    EXPECT_EQ(kTrafficRoutes, traffic.size());
    for (const auto &r : traffic)
        EXPECT_TRUE(Has(r, "dev ipsec0")) << r;
    EXPECT_FALSE(LinkExists("tun0"));
}

TEST_F(RouterSession, WanLostAndBack)
{
    ASSERT_NO_FATAL_FAILURE(LoginAndAccelerate("1"));
    ListenOnLan(1, 30);
    ASSERT_EQ(0, Sim("fault wan down"));

    // Supervision finds the WAN gone: abnormal disconnect, the tunnel stopped, LOGIN_OK.
    ASSERT_TRUE(WaitForState("LOGIN_OK", 30000)) << Rpc("GetStatus").text;
    EXPECT_EQ("3", Rpc("GetStatus").Get("result.accState")) << "WAN unreachable";
    EXPECT_EQ(1, KeyLogCount("check wan network failed, code: 16")) << KeyLog();
    EXPECT_TRUE(Has(Heard(), " { \"code\": 3, \"msg\": \"interrupt\", \"data\": null }"));
    EXPECT_FALSE(LinkExists("tun0"));
    EXPECT_TRUE(Routes(252).empty());
    EXPECT_TRUE(Routes(251).empty());
    EXPECT_EQ("0\n1\n", InRouterOut(kLeds)) << "the status LED still shows acceleration";

    // Back: the next check (30 s after the loss) redials with reconnection on.
    ASSERT_EQ(0, Sim("fault wan up"));
    ASSERT_TRUE(WaitForKeyLog("reconn acc start", 1, 45000)) << KeyLog();
    ASSERT_TRUE(WaitForState("ACC_OK", 30000)) << Rpc("GetStatus").text;
    EXPECT_EQ("1", Rpc("GetStatus").Get("result.accState"));
    EXPECT_EQ(1, KeyLogCount("check wan network failed, code: 16")) << "reported once";
    EXPECT_EQ(kLoginRoutes, Routes(252).size());
    EXPECT_EQ(kTrafficRoutes, Routes(251).size());
}

// While supervision dials a dropped tunnel again the state is ACCING; the WAN lost then ends the
// redial as it ends a working tunnel, once, and its return brings acceleration back.
TEST_F(RouterSession, WanLostDuringARedial)
{
    ASSERT_NO_FATAL_FAILURE(LoginAndAccelerate("1"));
    ASSERT_EQ(0, Sim("fault tunnel openvpn never"));
    ASSERT_EQ(0, Sim("fault tunnel openvpn drop"));
    ASSERT_TRUE(WaitForKeyLog("reconn acc start", 1, 20000)) << KeyLog();
    ASSERT_EQ("ACCING", Rpc("GetStatus").Status());
    ListenOnLan(2, 120);
    ASSERT_EQ(0, Sim("fault wan down"));

    ASSERT_TRUE(WaitForState("LOGIN_OK", 30000)) << Rpc("GetStatus").text;
    EXPECT_EQ("3", Rpc("GetStatus").Get("result.accState")) << "WAN unreachable";
    EXPECT_EQ(1, KeyLogCount("check wan network failed, code: 16")) << KeyLog();
    EXPECT_FALSE(LinkExists("tun0"));
    std::vector<std::string> services = ServicesLog();
    ASSERT_FALSE(services.empty());
    EXPECT_TRUE(Has(services.back(), "\"service\": \"openvpn\"") && Has(services.back(), "\"action\": \"stop\""))
        << services.back();
    EXPECT_TRUE(Routes(252).empty());
    EXPECT_TRUE(Routes(251).empty());

    ASSERT_EQ(0, Sim("fault tunnel openvpn ok"));
    ASSERT_EQ(0, Sim("fault wan up"));
    ASSERT_TRUE(WaitForState("ACC_OK", 60000)) << Rpc("GetStatus").text;
    EXPECT_EQ(1, KeyLogCount("check wan network failed, code: 16")) << "reported once";
    std::vector<std::string> heard = Lines(Heard());
    ASSERT_EQ(2u, heard.size());
    EXPECT_TRUE(Has(heard[0], " { \"code\": 3, \"msg\": \"interrupt\", \"data\": null }")) << heard[0];
    EXPECT_TRUE(Has(heard[1], " { \"code\": 1, ")) << heard[1];
}

TEST_F(RouterSession, RestartAfterKillAdoptsTheRunningTunnel)
{
    ASSERT_NO_FATAL_FAILURE(LoginAndAccelerate("1"));
    // What the router records of the state; the daemon itself never writes it.
    ASSERT_EQ(0, InRouter("sed -i \"s/option currState .*/option currState 'ACC_OK'/\" /etc/config/userinfo"));
    ASSERT_TRUE(Has(InRouterOut("cat /etc/config/userinfo"), "\toption currState 'ACC_OK'\n"));
    // The cloud sees the account's tunnel in use: it is this router's own, still up.
    SetCloudOnlines(1);

    ASSERT_EQ(0, Sim("daemon kill"));
    ASSERT_TRUE(LinkExists("tun0")) << "a crash leaves the tunnel up";
    // Empty tables, so that the restart has to put the routes back.
    ASSERT_EQ(0, InRouter("ip route flush table 252 && ip route flush table 251"));
    size_t servicesBefore = ServicesLog().size();
    int restoredBefore = KeyLogCount("[Restore]: acc success");

    ASSERT_EQ(0, Sim("daemon start"));
    ASSERT_TRUE(WaitForKeyLog("[Restore]: acc success", restoredBefore + 1, 20000)) << KeyLog();
    Reply status = Rpc("GetStatus");
    EXPECT_EQ("ACC_OK", status.Get("result.status")) << status.text;
    EXPECT_EQ("1", status.Get("result.accState"));
    EXPECT_EQ("0", status.Get("result.uConflict"));
    EXPECT_EQ(1, KeyLogCount("[Restore]: login success"));

    // Nothing was dialed or stopped: the tunnel is the one from before.
    std::vector<std::string> services = ServicesLog();
    for (size_t i = servicesBefore; i < services.size(); i++)
        EXPECT_TRUE(Has(services[i], "\"service\": \"led\"")) << services[i];
    EXPECT_TRUE(LinkExists("tun0"));
    std::vector<std::string> login = Routes(252), traffic = Routes(251);
    EXPECT_EQ(kLoginRoutes, login.size());
    EXPECT_EQ(kTrafficRoutes, traffic.size());
    for (const auto &r : traffic)
        EXPECT_TRUE(Has(r, "dev tun0")) << r;

    // The adopted tunnel is the one the daemon now watches: a cut is redialed.
    EXPECT_EQ("ACC_OK", Rpc("NetDevChange", {"lan", "up"}).Status());
    EXPECT_TRUE(Has(DaemonLog(), "netDevice change ifName(lan), action(up), accTun(tun0)"));
    int redials = KeyLogCount("reconn acc start");
    ASSERT_EQ(0, Sim("fault tunnel openvpn drop"));
    ASSERT_TRUE(WaitForKeyLog("reconn acc start", redials + 1, 15000)) << KeyLog();
    ASSERT_TRUE(WaitForState("ACC_OK", 30000)) << Rpc("GetStatus").text;
    EXPECT_TRUE(LinkExists("tun0"));
}

} // namespace
} // namespace e2e
