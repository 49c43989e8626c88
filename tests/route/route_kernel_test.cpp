#include <arpa/inet.h>
#include <gtest/gtest.h>
#include "core/context.h"
#include "core/log.h"
#include "harness/context_reset.h"
#include "harness/fake_shell.h"
#include "harness/log_capture.h"
#include "route/route_kernel.h"
#include "route/route_test_util.h"

namespace {

// Netlink speaks the CPU's byte order: lengths, types and flags are put in host order (so the
// same expectations hold on big-endian routers), addresses in network order.
Bytes Host16(uint16_t v)
{
    Bytes b(2);
    memcpy(b.data(), &v, 2);
    return b;
}

Bytes Host32(uint32_t v)
{
    Bytes b(4);
    memcpy(b.data(), &v, 4);
    return b;
}

Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes b;
    for (const Bytes &p : parts)
        b.insert(b.end(), p.begin(), p.end());
    return b;
}

// One route attribute: length and type, then the payload.
Bytes Attr(uint16_t type, Bytes payload)
{
    return Cat({Host16((uint16_t)(4 + payload.size())), Host16(type), payload});
}

// Expected request: header (seq left zero), route message, then the attributes.
// Adds carry NLM_F_REQUEST|NLM_F_EXCL|NLM_F_CREATE, deletes NLM_F_REQUEST; NLM_F_ACK is added on
// sending.
Bytes Request(uint16_t type, uint8_t dst_len, uint8_t table, uint8_t scope, Bytes attrs)
{
    uint16_t flags = type == 24 ? 0x0605 : 0x0005;
    return Cat({Host32(28 + (uint32_t)attrs.size()), Host16(type), Host16(flags), Host32(0), Host32(0),
                {2, dst_len, 0, 0, table, 3, scope, 1}, Host32(0), attrs});
}

Bytes WithoutSeq(Bytes b)
{
    for (int i = 8; i < 12; i++)
        b[i] = 0;
    return b;
}

uint32_t SeqOf(const Bytes &b)
{
    uint32_t seq;
    memcpy(&seq, b.data() + 8, 4);
    return seq;
}

class KernelRoute : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZND_ContextReset();
        ASSERT_EQ(0u, ZND_OpenNlSocket(&rth));
    }
    void TearDown() override
    {
        ZND_CloseNlSocket(&rth);
        ZND_ContextReset();
    }
    ZND_Rtnl rth;
    TalkRecorder talk;
};

TEST_F(KernelRoute, LoginAddAndDeleteBytes)
{
    ZND_RouteEntry e = MakeEntry("10.0.0.0", "255.0.0.0");
    ZND_LoginNextHop hop = {inet_addr("192.168.1.1"), 0};
    EXPECT_EQ(0u, ZND_LoginRouteCtrl(&rth, &e, &hop, 1));
    EXPECT_EQ(0u, ZND_LoginRouteCtrl(&rth, &e, &hop, 2));
    ASSERT_EQ(2u, talk.requests.size());
    EXPECT_EQ(Request(24, 8, 252, 0, Cat({Attr(1, {10, 0, 0, 0}), Attr(5, {192, 168, 1, 1})})),
              WithoutSeq(talk.requests[0]));
    EXPECT_EQ(Request(25, 8, 252, 255, Attr(1, {10, 0, 0, 0})), WithoutSeq(talk.requests[1]));
    EXPECT_EQ(SeqOf(talk.requests[0]) + 1, SeqOf(talk.requests[1]));
}

// A default route without a gateway (PPPoE): login routes are device routes, deleted alike.
TEST_F(KernelRoute, LoginRoutesThroughTheWanDevice)
{
    ZND_RouteEntry e = MakeEntry("10.0.0.0", "255.0.0.0");
    ZND_LoginNextHop hop = {0, 7};
    EXPECT_EQ(0u, ZND_LoginRouteCtrl(&rth, &e, &hop, 1));
    EXPECT_EQ(0u, ZND_LoginRouteCtrl(&rth, &e, &hop, 2));
    ASSERT_EQ(2u, talk.requests.size());
    EXPECT_EQ(Request(24, 8, 252, 253, Cat({Attr(1, {10, 0, 0, 0}), Attr(4, Host32(7))})),
              WithoutSeq(talk.requests[0]));
    EXPECT_EQ(Request(25, 8, 252, 255, Attr(1, {10, 0, 0, 0})), WithoutSeq(talk.requests[1]));
}

TEST_F(KernelRoute, TrafficAddAndDeleteBytes)
{
    ZND_RouteEntry e = MakeEntry("192.168.1.0", "255.255.255.0");
    EXPECT_EQ(0u, ZND_TrafficRouteCtrl(&rth, 0x01020304, &e, 1));
    EXPECT_EQ(0u, ZND_TrafficRouteCtrl(&rth, 7, &e, 2));
    ASSERT_EQ(2u, talk.requests.size());
    // The interface index is a host-order 32-bit number.
    Bytes attrs = Cat({Attr(1, {192, 168, 1, 0}), Attr(4, Host32(0x01020304))});
    EXPECT_EQ(Request(24, 24, 251, 253, attrs), WithoutSeq(talk.requests[0]));
    EXPECT_EQ(Request(25, 24, 251, 255, Attr(1, {192, 168, 1, 0})), WithoutSeq(talk.requests[1]));
}

TEST_F(KernelRoute, UnparsableTextsBecomeAllOnes)
{
    ZND_RouteEntry e = MakeEntry("tun0", "255.255.255.255");
    ZND_LoginNextHop hop = {inet_addr("eth0"), 0};
    EXPECT_EQ(0u, ZND_LoginRouteCtrl(&rth, &e, &hop, 1));
    ASSERT_EQ(1u, talk.requests.size());
    EXPECT_EQ(Request(24, 32, 252, 0, Cat({Attr(1, {255, 255, 255, 255}), Attr(5, {255, 255, 255, 255})})),
              WithoutSeq(talk.requests[0]));
}

TEST_F(KernelRoute, RefusalGivesTwoAndDebugLineWhenSwitchedOn)
{
    talk.refuse_dst = inet_addr("10.0.0.0");
    ZND_RouteEntry e = MakeEntry("10.0.0.0", "255.0.0.0");
    LogCapture log;
    ZND_LoginNextHop hop = {inet_addr("192.168.1.1"), 0};
    EXPECT_EQ(2u, ZND_LoginRouteCtrl(&rth, &e, &hop, 1));
    EXPECT_TRUE(log.lines().empty());
    ZND_DebugOn();
    EXPECT_EQ(2u, ZND_LoginRouteCtrl(&rth, &e, &hop, 2));
    EXPECT_EQ(2u, ZND_TrafficRouteCtrl(&rth, 9, &e, 1));
    ASSERT_EQ(2u, log.lines().size());
    EXPECT_EQ(0u, log.lines()[0].text.find("[ZND_DBG]  login route(a000000:ff000000) handle failed!  [line:"));
    EXPECT_EQ(0u, log.lines()[1].text.find("[ZND_DBG]  traffic route(a000000:ff000000, ifIndex:9) handle failed!"));
}

TEST(RtnlAttr, AppendIsBoundedByMaxlen)
{
    alignas(4) unsigned char buf[64] = {};
    struct nlmsghdr *n = reinterpret_cast<struct nlmsghdr *>(buf);
    n->nlmsg_len = 28;
    EXPECT_EQ(0, ZND_AddAttr32(n, 36, 4, 5));   // exactly fills the bound
    EXPECT_EQ(36u, n->nlmsg_len);
    EXPECT_EQ(-1, ZND_AddAttr32(n, 43, 4, 5));
    EXPECT_EQ(36u, n->nlmsg_len);
    const unsigned char three[3] = {1, 2, 3};
    EXPECT_EQ(0, ZND_AddAttrL(n, 64, 9, three, 3));   // padded to 8
    EXPECT_EQ(44u, n->nlmsg_len);
    uint16_t rta_len;
    memcpy(&rta_len, buf + 36, 2);
    EXPECT_EQ(7, rta_len);   // counts the payload without padding
}

TEST(RtnlTalk, TransportFailureOnClosedHandle)
{
    ZND_Rtnl rth = {-1, nullptr, 0, 0};
    unsigned char buf[28] = {28};
    testing::internal::CaptureStderr();
    EXPECT_LT(ZND_RtnlTalk(&rth, reinterpret_cast<struct nlmsghdr *>(buf)), 0);
    testing::internal::GetCapturedStderr();
}

TEST(MaskToPrefixLen, CountsLeadingOnes)
{
    EXPECT_EQ(32, ZND_MaskToPrefixLen(inet_addr("255.255.255.255")));
    EXPECT_EQ(24, ZND_MaskToPrefixLen(inet_addr("255.255.255.0")));
    EXPECT_EQ(17, ZND_MaskToPrefixLen(inet_addr("255.255.128.0")));
    EXPECT_EQ(1, ZND_MaskToPrefixLen(inet_addr("128.0.0.0")));
    EXPECT_EQ(0, ZND_MaskToPrefixLen(inet_addr("0.0.0.0")));
    EXPECT_EQ(8, ZND_MaskToPrefixLen(inet_addr("255.0.255.0")));   // cut at the first zero bit
    EXPECT_EQ(0, ZND_MaskToPrefixLen(inet_addr("127.255.255.255")));
}

// Entries that only differ in writing are one kernel route; a different prefix length is another.
TEST(RouteKernelKey, NetworkAndPrefixLength)
{
    ZND_RouteEntry a = MakeEntry("10.0.0.0", "255.0.0.0"), b = MakeEntry("10.0.0.0", "255.0.255.0"),
                   c = MakeEntry("10.1.2.3", "255.0.0.0"), d = MakeEntry("10.0.0.0", "255.255.0.0"),
                   e = MakeEntry("11.0.0.0", "255.0.0.0"), any = MakeEntry("1.2.3.4", "0.0.0.0"),
                   all = MakeEntry("0.0.0.0", "0.0.0.0");
    EXPECT_EQ(ZND_RouteKernelKey(&a), ZND_RouteKernelKey(&b));
    EXPECT_EQ(ZND_RouteKernelKey(&a), ZND_RouteKernelKey(&c));
    EXPECT_NE(ZND_RouteKernelKey(&a), ZND_RouteKernelKey(&d));
    EXPECT_NE(ZND_RouteKernelKey(&a), ZND_RouteKernelKey(&e));
    EXPECT_EQ(ZND_RouteKernelKey(&all), ZND_RouteKernelKey(&any));
}

class Gateway : public ::testing::Test {
protected:
    void SetUp() override { ZND_ContextReset(); }
    FakeShell shell;
    LogCapture log;
    char out[16];
};

TEST_F(Gateway, ThirdWordOfFirstDefaultLine)
{
    shell.On("ip route", 0,
             "10.9.0.0/16 dev eth1 proto kernel scope link src 10.9.0.2\n"
             "default via 192.168.1.1 dev eth0 proto dhcp metric 100\n"
             "default via 10.9.0.1 dev eth1 metric 200\n");
    EXPECT_EQ(0u, CFGI_GetGateway(out, sizeof out));
    EXPECT_STREQ("192.168.1.1", out);
    EXPECT_EQ(std::vector<std::string>{"ip route"}, shell.commands());
}

TEST_F(Gateway, DeviceDefaultYieldsDeviceName)
{
    shell.On("ip route", 0, "default dev pppoe-wan scope link\n");
    EXPECT_EQ(0u, CFGI_GetGateway(out, sizeof out));
    EXPECT_STREQ("pppoe-wan", out);
}

TEST_F(Gateway, LoginNextHopIsTheGatewayOrTheDefaultRoutesDevice)
{
    ZND_LoginNextHop hop = {1, 1};
    shell.On("ip route", 0, "default via 192.168.1.1 dev eth0\n");
    EXPECT_EQ(0u, ZND_GetLoginNextHop(&hop));
    EXPECT_EQ(inet_addr("192.168.1.1"), hop.gateway);
    EXPECT_EQ(0, hop.ifindex);
    shell.On("ip route", 0, "default dev lo scope link\n");   // lo: the device every namespace has
    EXPECT_EQ(0u, ZND_GetLoginNextHop(&hop));
    EXPECT_EQ(0u, hop.gateway);
    EXPECT_EQ(1, hop.ifindex);
    // A device that does not exist is no next hop: nothing may go "via" its name.
    shell.On("ip route", 0, "default dev pppoe-gone scope link\n");
    EXPECT_EQ(2u, ZND_GetLoginNextHop(&hop));
    shell.On("ip route", 0, "10.0.0.0/8 dev eth0\n");
    EXPECT_EQ(2u, ZND_GetLoginNextHop(&hop));
}

TEST_F(Gateway, NoDefaultLeavesBufferCleared)
{
    memset(out, 'x', sizeof out);
    shell.On("ip route", 0, "10.9.0.0/16 dev eth1 proto kernel scope link\n192.168.5.0/24 dev default-br\n");
    EXPECT_EQ(2u, CFGI_GetGateway(out, sizeof out));
    for (char c : out)
        EXPECT_EQ(0, c);
}

TEST_F(Gateway, WordTooLongOrMissingIsNoGateway)
{
    shell.On("ip route", 0, "default via 1234567890.1234567890 dev eth0\n");
    EXPECT_EQ(2u, CFGI_GetGateway(out, sizeof out));
    EXPECT_STREQ("", out);
    shell.On("ip route", 0, "default via\n");
    EXPECT_EQ(2u, CFGI_GetGateway(out, sizeof out));
    shell.On("ip route", 0, "default via 192.168.100.100 dev eth0\n");
    char small[8];
    EXPECT_EQ(2u, CFGI_GetGateway(small, sizeof small));
    EXPECT_STREQ("", small);
}

TEST_F(Gateway, PipeFailure)
{
    shell.FailRead("ip route");
    EXPECT_EQ(2u, CFGI_GetGateway(out, sizeof out));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  popen error.  [line:"));
}

class RouteShell : public ::testing::Test {
protected:
    void SetUp() override { ZND_ContextReset(); }
    FakeShell shell;
};

TEST_F(RouteShell, RulesAddedOnlyWhenNotThere)
{
    shell.On("grep -q", FakeShell::Exit(1));
    ZND_LoginRouteRuleInit();
    ZND_TrafficRouteRuleInit();
    std::vector<std::string> want = {"ip rule list | grep -qxE '99:[[:space:]]+from all lookup login[[:space:]]*'",
                                     "ip rule add from all lookup login pref 99",
                                     "ip rule list | grep -qxE '100:[[:space:]]+from all fwmark 0x1 lookup traffic[[:space:]]*'",
                                     "ip rule add fwmark 1 table traffic pref 100"};
    EXPECT_EQ(want, shell.commands());

    shell.Clear();
    shell.On("grep -q", 0);
    ZND_LoginRouteRuleInit();
    ZND_TrafficRouteRuleInit();
    EXPECT_EQ(2u, shell.commands().size());
    EXPECT_FALSE(shell.Ran("ip rule add"));
}

TEST_F(RouteShell, TableEmptyFollowsTheGrepStatus)
{
    shell.On("table login", FakeShell::Exit(1));
    shell.On("table traffic", 0);
    EXPECT_EQ(1, ZND_LoginRouteTabIsEmpty());
    EXPECT_EQ(0, ZND_TrafficRouteTabIsEmpty());
    std::vector<std::string> want = {"ip route show table login| head -n 1| grep dev > /dev/null",
                                     "ip route show table traffic| head -n 1| grep dev > /dev/null"};
    EXPECT_EQ(want, shell.commands());
}

} // namespace
