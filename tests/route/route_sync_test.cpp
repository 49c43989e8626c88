// Synchronisation against the request recorder and a scripted shell: what is sent, in which order,
// and how failures are counted.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/rtnetlink.h>
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "harness/context_reset.h"
#include "harness/fake_shell.h"
#include "harness/log_capture.h"
#include "route/route_sync.h"
#include "route/route_test_util.h"

namespace {

// "type dst/len" of each recorded request.
std::vector<std::string> Summary(const TalkRecorder &talk)
{
    std::vector<std::string> out;
    for (const auto &r : talk.requests) {
        char dst[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, r.data() + 32, dst, sizeof dst);
        struct nlmsghdr h;   // in the CPU's byte order
        memcpy(&h, r.data(), sizeof h);
        out.push_back(std::string(h.nlmsg_type == RTM_NEWROUTE ? "add " : "del ") + dst + "/" + std::to_string(r[17]));
    }
    return out;
}

class Sync : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZND_ContextReset();
        shell.On("ip route", 0, "default via 192.168.1.1 dev eth0\n");
        shell.On("grep -q", FakeShell::Exit(1));
    }
    void TearDown() override { ZND_ContextReset(); }
    FakeShell shell;
    LogCapture log;
    TalkRecorder talk;
    ClientRecord client = {};
};

TEST_F(Sync, AddAllLoginSendsEverySetEntryInWalkOrderViaGateway)
{
    ScopedSet s;
    s.Add("10.0.0.0", "255.0.0.0");
    s.Add("1.2.3.4", "255.255.255.255");
    s.Add("10.0.0.0", "255.255.0.0");
    EXPECT_EQ(0u, ZND_AddAllLoginRouteToKernel(&client, &s));
    std::vector<std::string> want = {"add 1.2.3.4/32", "add 10.0.0.0/8", "add 10.0.0.0/16"};
    EXPECT_EQ(want, Summary(talk));
    for (const auto &r : talk.requests) {
        ASSERT_EQ(44u, r.size());
        EXPECT_EQ((Bytes{192, 168, 1, 1}), Bytes(r.begin() + 40, r.end()));
    }
    // Gateway and the router's networks first, then the rule, once per operation.
    std::vector<std::string> cmds = {"ip route", "ip route",
                                     "ip rule list | grep -qxE '99:[[:space:]]+from all lookup login[[:space:]]*'",
                                     "ip rule add from all lookup login pref 99"};
    EXPECT_EQ(cmds, shell.commands());
}

TEST_F(Sync, FailuresDoNotStopTheWalk)
{
    ScopedSet s;
    s.Add("1.2.3.4", "255.255.255.255");
    s.Add("8.8.8.8", "255.255.255.255");
    s.Add("10.0.0.0", "255.0.0.0");
    talk.refuse_dst = inet_addr("8.8.8.8");
    EXPECT_EQ(ZND_ERR_LOGIN_ROUTE_ADD, ZND_AddAllLoginRouteToKernel(&client, &s));
    EXPECT_EQ(3u, talk.requests.size());
    EXPECT_TRUE(log.Has("[ZND_ERROR]  login route table add failed!  [line:"));
}

TEST_F(Sync, NoGatewayStopsBeforeAnyRequest)
{
    shell.On("ip route", 0, "10.0.0.0/8 dev eth0\n");
    ScopedSet s;
    s.Add("1.2.3.4", "255.255.255.255");
    EXPECT_EQ(ZND_ERR_GATEWAY, ZND_AddAllLoginRouteToKernel(&client, &s));
    EXPECT_EQ(ZND_ERR_GATEWAY, ZND_AddNewLoginRouteToKernel(&s, &s));
    EXPECT_EQ(ZND_ERR_GATEWAY, ZND_DelNotUsedLoginRouteFromKernel(&s, &s));
    EXPECT_TRUE(talk.requests.empty());
    EXPECT_FALSE(shell.Ran("ip rule"));
    EXPECT_EQ(3u, log.Count("[ZND_ERROR]  get default gateway failed!  [line:"));
}

// PPPoE: the default route names its device and no gateway.
TEST_F(Sync, DefaultRouteWithoutGatewayGoesThroughItsDevice)
{
    shell.On("ip route", 0, "default dev lo scope link\n");
    ScopedSet s, none;
    s.Add("1.2.3.4", "255.255.255.255");
    EXPECT_EQ(0u, ZND_AddAllLoginRouteToKernel(&client, &s));
    EXPECT_EQ(0u, ZND_DelNotUsedLoginRouteFromKernel(&none, &s));
    ASSERT_EQ(2u, talk.requests.size());
    EXPECT_EQ(253, talk.requests[0][22]);   // scope link
    struct { uint16_t len, type; uint32_t oif; } oif = {8, RTA_OIF, 1};   // in the CPU's byte order
    const unsigned char *raw = reinterpret_cast<const unsigned char *>(&oif);
    EXPECT_EQ(Bytes(raw, raw + sizeof oif), Bytes(talk.requests[0].begin() + 36, talk.requests[0].end()));
    EXPECT_EQ((std::vector<std::string>{"add 1.2.3.4/32", "del 1.2.3.4/32"}), Summary(talk));

    shell.On("ip route", 0, "default dev pppoe-wan scope link\n");   // no such device here
    EXPECT_EQ(ZND_ERR_GATEWAY, ZND_AddAllLoginRouteToKernel(&client, &s));
    EXPECT_EQ(2u, talk.requests.size());
}

TEST_F(Sync, EmptySetOnlyEnsuresTheRule)
{
    ScopedSet s;
    EXPECT_EQ(0u, ZND_AddAllLoginRouteToKernel(&client, &s));
    EXPECT_TRUE(talk.requests.empty());
    EXPECT_TRUE(shell.Ran("ip rule add from all lookup login pref 99"));
}

TEST_F(Sync, AddAllTrafficUsesTheTunnelIndex)
{
    strcpy(client.accTun, "lo");   // the one device every namespace has
    ScopedSet s;
    s.Add("10.0.0.0", "255.0.0.0");
    s.Add("1.2.3.4", "255.255.255.255");
    talk.refuse_dst = inet_addr("1.2.3.4");
    EXPECT_EQ(ZND_ERR_TRAFFIC_ROUTE_ADD, ZND_AddAllTrafficRouteToKernel(&client, &s));
    ASSERT_EQ(2u, talk.requests.size());
    uint32_t oif;
    memcpy(&oif, talk.requests[1].data() + 40, 4);
    EXPECT_EQ(1u, oif);
    EXPECT_EQ(253, talk.requests[1][22]);
    EXPECT_TRUE(shell.Ran("ip rule add fwmark 1 table traffic pref 100"));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  traffic route table add failed!  [line:"));
}

// Whatever a list says, no route goes over a network the router is on: one that covers it, or one
// that lies in it. Device routes of the main table are those networks; routes via a gateway are not.
TEST_F(Sync, RoutesOverTheRoutersNetworksAreSkipped)
{
    shell.On("ip route", 0,
             "default via 10.1.2.1 dev eth1 proto static\n"
             "10.1.2.0/24 dev eth1 proto kernel scope link src 10.1.2.3\n"
             "10.9.0.0/16 via 10.1.2.1 dev eth1\n"
             "192.168.1.0/24 dev br-lan proto kernel scope link src 192.168.1.1 linkdown\n");
    strcpy(client.accTun, "lo");
    ScopedSet s, none;
    s.Add("192.168.1.0", "255.255.255.0");
    s.Add("192.168.0.0", "255.255.0.0");
    s.Add("10.1.2.128", "255.255.255.128");
    s.Add("10.9.0.0", "255.255.0.0");
    s.Add("1.2.3.4", "255.255.255.255");
    EXPECT_EQ(0u, ZND_AddAllLoginRouteToKernel(&client, &s));
    EXPECT_EQ((std::vector<std::string>{"add 1.2.3.4/32", "add 10.9.0.0/16"}), Summary(talk));
    EXPECT_EQ(3u, log.Count("[ZND_ERROR]  route("));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  route(192.168.0.0/255.255.0.0) overlaps router network(192.168.1.0/24), skipped"));
    EXPECT_TRUE(log.Has("route(10.1.2.128/255.255.255.128) overlaps router network(10.1.2.0/24), skipped"));
    talk.requests.clear();
    EXPECT_EQ(0u, ZND_AddAllTrafficRouteToKernel(&client, &s));
    EXPECT_EQ((std::vector<std::string>{"add 1.2.3.4/32", "add 10.9.0.0/16"}), Summary(talk));
    talk.requests.clear();
    log.Clear();
    EXPECT_EQ(0u, ZND_DelNotUsedLoginRouteFromKernel(&none, &s));   // never added, so not deleted
    EXPECT_EQ((std::vector<std::string>{"del 1.2.3.4/32", "del 10.9.0.0/16"}), Summary(talk));
    EXPECT_FALSE(log.Has("overlaps"));
}

TEST_F(Sync, MissingTunnelDeviceStopsBeforeAnything)
{
    strcpy(client.accTun, "tun-missing");
    ScopedSet s;
    s.Add("10.0.0.0", "255.0.0.0");
    EXPECT_EQ(ZND_ERR_TRAFFIC_IFINDEX, ZND_AddAllTrafficRouteToKernel(&client, &s));
    EXPECT_TRUE(talk.requests.empty());
    EXPECT_TRUE(shell.commands().empty());
    EXPECT_TRUE(log.Has("[ZND_ERROR]  get dev(tun-missing) index(0) failed!  [line:"));
}

TEST_F(Sync, UpdateAddsOnlyNewAndDeletesOnlyUnused)
{
    ScopedSet cur, next;
    cur.Add("1.1.1.0", "255.255.255.0");   // P
    cur.Add("2.2.2.0", "255.255.255.0");   // Q
    next.Add("2.2.2.0", "255.255.255.0");  // Q
    next.Add("3.3.3.0", "255.255.255.0");  // R
    next.Add("1.1.1.0", "255.255.0.0");    // P's address with a shorter mask: another route
    ZND_DebugOn();
    EXPECT_EQ(0u, ZND_AddNewLoginRouteToKernel(&next, &cur));
    EXPECT_EQ(0u, ZND_DelNotUsedLoginRouteFromKernel(&next, &cur));
    std::vector<std::string> want = {"add 3.3.3.0/24", "add 1.1.1.0/16", "del 1.1.1.0/24"};
    EXPECT_EQ(want, Summary(talk));
    EXPECT_EQ(36u, talk.requests[2].size());   // a delete carries no gateway
    EXPECT_TRUE(log.Has("new login route(3.3.3.0/255.255.255.0) need add to kernel"));
    EXPECT_TRUE(log.Has("del not used login route(1.1.1.0/255.255.255.0) from kernel"));
    EXPECT_EQ(1u, shell.Count("ip rule list"));   // delete not used does not check the rule
}

// Decided by what the kernel keys on: a network written differently (the same prefix length once
// the mask is cut at its first zero bit, host bits in the address) is neither added nor deleted.
TEST_F(Sync, UpdateComparesRoutesAsTheKernelDoes)
{
    ScopedSet cur, next;
    cur.Add("10.0.0.0", "255.0.0.0");
    cur.Add("20.0.0.0", "255.255.0.0");
    cur.Add("40.0.0.0", "255.255.255.0");
    next.Add("10.0.0.0", "255.0.255.0");     // prefix 8 as well
    next.Add("20.0.7.7", "255.255.0.0");     // 20.0.0.0/16
    next.Add("30.0.0.0", "255.255.255.0");
    EXPECT_EQ(0u, ZND_AddNewLoginRouteToKernel(&next, &cur));
    EXPECT_EQ(0u, ZND_DelNotUsedLoginRouteFromKernel(&next, &cur));
    std::vector<std::string> want = {"add 30.0.0.0/24", "del 40.0.0.0/24"};
    EXPECT_EQ(want, Summary(talk));
}

TEST_F(Sync, UpdateFailuresGiveTheirCodes)
{
    ScopedSet cur, next;
    cur.Add("1.1.1.0", "255.255.255.0");
    next.Add("3.3.3.0", "255.255.255.0");
    talk.refuse_dst = inet_addr("3.3.3.0");
    EXPECT_EQ(ZND_ERR_LOGIN_ROUTE_ADD, ZND_AddNewLoginRouteToKernel(&next, &cur));
    talk.refuse_dst = inet_addr("1.1.1.0");
    EXPECT_EQ(ZND_ERR_LOGIN_ROUTE_DEL, ZND_DelNotUsedLoginRouteFromKernel(&next, &cur));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  login route table del failed!  [line:"));
}

TEST_F(Sync, EmptyNewListDeletesEverything)
{
    ScopedSet cur, next;
    cur.Add("1.1.1.0", "255.255.255.0");
    cur.Add("2.2.2.0", "255.255.255.0");
    EXPECT_EQ(0u, ZND_AddNewLoginRouteToKernel(&next, &cur));
    EXPECT_EQ(0u, ZND_DelNotUsedLoginRouteFromKernel(&next, &cur));
    // Walk order: 2.2.2.0 hashes to a lower bucket than 1.1.1.0.
    ASSERT_LT(ZND_RouteHashIndex("2.2.2.0"), ZND_RouteHashIndex("1.1.1.0"));
    std::vector<std::string> want = {"del 2.2.2.0/24", "del 1.1.1.0/24"};
    EXPECT_EQ(want, Summary(talk));
}

TEST_F(Sync, DeleteAllFlushesAndFailsOnlyWhenShellCannotStart)
{
    shell.On("ip route flush", FakeShell::Exit(2));   // e.g. table unknown: still 0
    EXPECT_EQ(0u, ZND_DelAllLoginRouteFromKernel());
    EXPECT_EQ(0u, ZND_DelAllTrafficRouteFromKernel());
    EXPECT_EQ((std::vector<std::string>{"ip route flush table login", "ip route flush table traffic"}),
              shell.Matching("flush"));
    EXPECT_TRUE(log.Has("[ZND_INFO]  del kernel login route table  [line:"));
    EXPECT_TRUE(log.Has("[ZND_INFO]  del kernel traffic route table  [line:"));
    shell.On("ip route flush", -1);
    EXPECT_EQ(ZND_ERR_LOGIN_ROUTE_DEL, ZND_DelAllLoginRouteFromKernel());
    EXPECT_EQ(ZND_ERR_TRAFFIC_ROUTE_DEL, ZND_DelAllTrafficRouteFromKernel());
}

} // namespace
