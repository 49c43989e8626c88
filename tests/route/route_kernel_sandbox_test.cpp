// Route synchronisation against the real kernel, inside the test's own network namespace: a tap
// device "wan0" with a default gateway stands in for the WAN and a tun device for the tunnel.
#include <algorithm>
#include <gtest/gtest.h>
#include <sstream>
#include "core/context.h"
#include "core/paths.h"
#include "core/result.h"
#include "harness/context_reset.h"
#include "harness/log_capture.h"
#include "harness/sandbox.h"
#include "route/route_hash.h"
#include "route/route_kernel.h"
#include "route/route_sync.h"
#include "route/route_test_util.h"

namespace {

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty())
            out.push_back(line);
    return out;
}

// "destination next-hop" of every route of a table, sorted; the next hop is "via X" or "dev X".
std::vector<std::string> TableRoutes(int table)
{
    std::vector<std::string> out;
    for (const auto &line : Lines(ZND_TestShOut("ip route show table " + std::to_string(table)))) {
        std::istringstream words(line);
        std::string dst, kind, hop;
        words >> dst >> kind >> hop;
        out.push_back(dst + " " + kind + " " + hop);
    }
    std::sort(out.begin(), out.end());
    return out;
}

size_t CountLines(const std::string &cmd, const std::string &text)
{
    size_t n = 0;
    for (const auto &line : Lines(ZND_TestShOut(cmd)))
        if (line.find(text) != std::string::npos)
            n++;
    return n;
}

class KernelSync : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZND_ContextReset();
        ASSERT_TRUE(ZND_TestWriteFile("/etc/iproute2/rt_tables",
                                      "255\tlocal\n254\tmain\n253\tdefault\n0\tunspec\n252 login\n251 traffic\n"));
        ASSERT_EQ(0, ZND_TestSh("ip tuntap add wan0 mode tap && ip link set wan0 up && "
                                "ip addr add 192.168.7.2/24 dev wan0"));
    }
    void TearDown() override { ZND_ContextReset(); }
    void WithGateway() { ASSERT_EQ(0, ZND_TestSh("ip route add default via 192.168.7.1 dev wan0")); }
    void WithTunnel(const char *name)
    {
        ASSERT_EQ(0, ZND_TestSh(std::string("ip tuntap add ") + name + " mode tun && ip link set " + name + " up"));
        snprintf(client.accTun, sizeof client.accTun, "%s", name);
    }
    size_t LoginRules() { return CountLines("ip rule list", "99:\tfrom all lookup login"); }
    size_t TrafficRules() { return CountLines("ip rule list", "100:\tfrom all fwmark 0x1 lookup traffic"); }

    ClientRecord client = {};
    LogCapture log;
};

TEST_F(KernelSync, AddAllLoginInstallsTheSetViaTheGateway)
{
    WithGateway();
    ScopedSet s;
    s.Add("10.0.0.0", "255.0.0.0");
    s.Add("1.2.3.4", "255.255.255.255");
    s.Add("172.16.0.0", "255.240.0.0");
    EXPECT_EQ(1, ZND_LoginRouteTabIsEmpty());
    EXPECT_EQ(0u, ZND_AddAllLoginRouteToKernel(&client, &s));
    std::vector<std::string> want = {"1.2.3.4 via 192.168.7.1", "10.0.0.0/8 via 192.168.7.1",
                                     "172.16.0.0/12 via 192.168.7.1"};
    EXPECT_EQ(want, TableRoutes(252));
    EXPECT_EQ(3u, CountLines("ip -d route show table 252", "unicast"));
    EXPECT_EQ(3u, CountLines("ip -d route show table 252", "proto boot scope global"));
    EXPECT_EQ(0, ZND_LoginRouteTabIsEmpty());
    EXPECT_EQ(1u, LoginRules());

    // Flush and add again: same routes, still one rule.
    EXPECT_EQ(0u, ZND_DelAllLoginRouteFromKernel());
    EXPECT_TRUE(TableRoutes(252).empty());
    EXPECT_EQ(1, ZND_LoginRouteTabIsEmpty());
    EXPECT_EQ(1u, LoginRules());   // flushing leaves the rule
    EXPECT_EQ(0u, ZND_AddAllLoginRouteToKernel(&client, &s));
    EXPECT_EQ(want, TableRoutes(252));
    EXPECT_EQ(1u, LoginRules());
}

TEST_F(KernelSync, RouteAlreadyThereCountsAsFailure)
{
    WithGateway();
    ScopedSet s;
    s.Add("10.0.0.0", "255.0.0.0");
    s.Add("1.2.3.4", "255.255.255.255");
    ASSERT_EQ(0u, ZND_AddAllLoginRouteToKernel(&client, &s));
    s.Add("5.6.7.0", "255.255.255.0");
    log.Clear();
    EXPECT_EQ(ZND_ERR_LOGIN_ROUTE_ADD, ZND_AddAllLoginRouteToKernel(&client, &s));
    EXPECT_EQ(2u, log.Count("[ZND_ERROR]  RTNETLINK answers: File exists  [line:"));
    EXPECT_EQ(3u, TableRoutes(252).size());   // the new one still went in
}

// Other rules that mention the tables (or the words), or that have the rules' prefs, are not the rules.
TEST_F(KernelSync, RulesAddedWhatOtherRulesMention)
{
    WithGateway();
    WithTunnel("tun0");
    ASSERT_EQ(0, ZND_TestSh("ip rule add from 10.9.9.9 lookup login pref 500 && "
                            "ip rule add from 10.9.9.9 lookup traffic pref 501 && "
                            "ip rule add fwmark 2 lookup 99 pref 100 && "
                            "ip rule add iif lo lookup login pref 99 && "
                            "ip rule add lookup traffic pref 100 && "
                            "ip rule add fwmark 2 lookup traffic pref 100"));
    ScopedSet s;
    EXPECT_EQ(0u, ZND_AddAllLoginRouteToKernel(&client, &s));
    EXPECT_EQ(0u, ZND_AddAllTrafficRouteToKernel(&client, &s));
    EXPECT_EQ(1u, LoginRules());
    EXPECT_EQ(1u, TrafficRules());
    // Once there, they are not added again.
    EXPECT_EQ(0u, ZND_AddAllLoginRouteToKernel(&client, &s));
    EXPECT_EQ(0u, ZND_AddAllTrafficRouteToKernel(&client, &s));
    EXPECT_EQ(1u, LoginRules());
    EXPECT_EQ(1u, TrafficRules());
}

TEST_F(KernelSync, AddAllTrafficThroughTheTunnel)
{
    WithTunnel("tun0");
    ScopedSet s;
    s.Add("10.0.0.0", "255.0.0.0");
    s.Add("8.8.8.8", "255.255.255.255");
    EXPECT_EQ(1, ZND_TrafficRouteTabIsEmpty());
    EXPECT_EQ(0u, ZND_AddAllTrafficRouteToKernel(&client, &s));
    std::vector<std::string> want = {"10.0.0.0/8 dev tun0", "8.8.8.8 dev tun0"};
    EXPECT_EQ(want, TableRoutes(251));
    EXPECT_EQ(2u, CountLines("ip -d route show table 251", "proto boot scope link"));
    EXPECT_EQ(0, ZND_TrafficRouteTabIsEmpty());
    EXPECT_EQ(1u, TrafficRules());
    EXPECT_EQ(0u, ZND_DelAllTrafficRouteFromKernel());
    EXPECT_TRUE(TableRoutes(251).empty());
    EXPECT_EQ(0u, ZND_AddAllTrafficRouteToKernel(&client, &s));
    EXPECT_EQ(1u, TrafficRules());
}

TEST_F(KernelSync, MissingGatewayOrDeviceStopsBeforeAnyRequest)
{
    WithTunnel("tun0");   // a tunnel but no default route
    ScopedSet s;
    s.Add("10.0.0.0", "255.0.0.0");
    EXPECT_EQ(ZND_ERR_GATEWAY, ZND_AddAllLoginRouteToKernel(&client, &s));
    snprintf(client.accTun, sizeof client.accTun, "tun9");
    EXPECT_EQ(ZND_ERR_TRAFFIC_IFINDEX, ZND_AddAllTrafficRouteToKernel(&client, &s));
    EXPECT_TRUE(TableRoutes(252).empty());
    EXPECT_TRUE(TableRoutes(251).empty());
    EXPECT_EQ(0u, LoginRules());
    EXPECT_EQ(0u, TrafficRules());
}

// A WAN without a gateway (PPPoE): the login routes are device routes of the default route's
// device, and an update adds and deletes them alike.
TEST_F(KernelSync, DefaultRouteWithoutGatewayInstallsDeviceRoutes)
{
    ASSERT_EQ(0, ZND_TestSh("ip route add default dev wan0"));
    ScopedSet s, next;
    s.Add("10.0.0.0", "255.0.0.0");
    s.Add("1.2.3.4", "255.255.255.255");
    next.Add("10.0.0.0", "255.0.0.0");
    EXPECT_EQ(0u, ZND_AddAllLoginRouteToKernel(&client, &s));
    EXPECT_EQ((std::vector<std::string>{"1.2.3.4 dev wan0", "10.0.0.0/8 dev wan0"}), TableRoutes(252));
    EXPECT_EQ(2u, CountLines("ip -d route show table 252", "proto boot scope link"));
    EXPECT_EQ(0u, ZND_DelNotUsedLoginRouteFromKernel(&next, &s));
    EXPECT_EQ((std::vector<std::string>{"10.0.0.0/8 dev wan0"}), TableRoutes(252));
    EXPECT_EQ(1u, LoginRules());
}

TEST_F(KernelSync, UpdateTurnsPQIntoQR)
{
    WithGateway();
    ScopedSet next;
    ZND_RouteHash *cur = ZND_GetLoginRouteSet();
    ZND_RouteHashInit(cur);
    ZND_RouteEntry p = MakeEntry("1.1.1.0", "255.255.255.0"), q = MakeEntry("2.2.0.0", "255.255.0.0"),
                   r = MakeEntry("3.0.0.0", "255.0.0.0"), s = MakeEntry("4.0.0.0", "255.0.0.0"),
                   s_rewritten = MakeEntry("4.0.0.0", "255.0.255.0");   // prefix 8 all the same
    ZND_RouteHashAdd(cur, &p);
    ZND_RouteHashAdd(cur, &q);
    ZND_RouteHashAdd(cur, &s);
    ZND_RouteHashAdd(&next, &q);
    ZND_RouteHashAdd(&next, &r);
    ZND_RouteHashAdd(&next, &s_rewritten);
    ASSERT_EQ(0u, ZND_AddAllLoginRouteToKernel(&client, cur));
    // Q and S are not sent again: a second add would be refused and give 55, and a delete of S
    // would leave its network without a route.
    EXPECT_EQ(0u, ZND_AddNewLoginRouteToKernel(&next, cur));
    EXPECT_EQ(0u, ZND_DelNotUsedLoginRouteFromKernel(&next, cur));
    ZND_RouteHashCopy(cur, &next);
    std::vector<std::string> want = {"2.2.0.0/16 via 192.168.7.1", "3.0.0.0/8 via 192.168.7.1",
                                     "4.0.0.0/8 via 192.168.7.1"};
    EXPECT_EQ(want, TableRoutes(252));
    std::vector<std::string> held = SetContents(cur);
    std::sort(held.begin(), held.end());
    EXPECT_EQ((std::vector<std::string>{"2.2.0.0/255.255.0.0", "3.0.0.0/255.0.0.0", "4.0.0.0/255.0.255.0"}), held);

    // Deleting a route the kernel no longer holds is a failure.
    ScopedSet none, gone;
    gone.Add("1.1.1.0", "255.255.255.0");
    log.Clear();
    EXPECT_EQ(ZND_ERR_LOGIN_ROUTE_DEL, ZND_DelNotUsedLoginRouteFromKernel(&none, &gone));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  RTNETLINK answers: No such process  [line:"));
    EXPECT_EQ(want, TableRoutes(252));
}

TEST_F(KernelSync, DeleteAllOfAnUnknownTableIsFine)
{
    ASSERT_TRUE(ZND_TestWriteFile("/etc/iproute2/rt_tables", "255\tlocal\n254\tmain\n"));
    EXPECT_EQ(0u, ZND_DelAllLoginRouteFromKernel());
    EXPECT_EQ(0u, ZND_DelAllTrafficRouteFromKernel());
}

class LocalLists : public KernelSync {
protected:
    const char *login_ = R"({"code":0,"version":"L1","gamelist":[{"gid":757,"sroute":["1.1.1.0:255.255.255.0"]}]})";
    const char *traffic_ =
        R"({"code":0,"version":"T1","rules":[{"gid":757,"servers":[{"mrange":["2.2.2.0:255.255.255.0"]}]}]})";
};

TEST_F(LocalLists, LoadedAtStartAndFreedAtEnd)
{
    ASSERT_TRUE(ZND_TestWriteFile(ZND_PATH_LOGIN_ROUTE_LIST, login_));
    ASSERT_TRUE(ZND_TestWriteFile(ZND_PATH_TRAFFIC_ROUTE_LIST, traffic_));
    ZND_LocalRouteTabInit();
    EXPECT_EQ(std::vector<std::string>{"1.1.1.0/255.255.255.0"}, SetContents(ZND_GetLoginRouteSet()));
    EXPECT_EQ(std::vector<std::string>{"2.2.2.0/255.255.255.0"}, SetContents(ZND_GetTrafficRouteSet()));
    EXPECT_STREQ("L1", ZND_GetLoginRouteSet()->version);
    EXPECT_TRUE(log.Has("[ZND_INFO]  local route table init ok  [line:"));
    ZND_LocalRouteTabDeinit();
    EXPECT_EQ(0u, RouteCount(ZND_GetLoginRouteSet()));
    EXPECT_EQ(0u, RouteCount(ZND_GetTrafficRouteSet()));
    EXPECT_STREQ("", ZND_GetTrafficRouteSet()->version);
    EXPECT_TRUE(log.Has("[ZND_INFO]  route table deinit ok  [line:"));
}

TEST_F(LocalLists, UnreadableListEndsTheProcess)
{
    ASSERT_TRUE(ZND_TestWriteFile(ZND_PATH_TRAFFIC_ROUTE_LIST, traffic_));
    EXPECT_EXIT((ZND_TestLogToStderr(), ZND_LocalRouteTabInit()), testing::ExitedWithCode(1), "read login route file fail");
    ASSERT_TRUE(ZND_TestWriteFile(ZND_PATH_LOGIN_ROUTE_LIST, login_));
    ASSERT_TRUE(ZND_TestWriteFile(ZND_PATH_TRAFFIC_ROUTE_LIST, "{\"code\":3}"));
    EXPECT_EXIT((ZND_TestLogToStderr(), ZND_LocalRouteTabInit()), testing::ExitedWithCode(1), "read traffic route file fail");
}

} // namespace
