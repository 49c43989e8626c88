// The discovery socket and the event broadcasts on a router with LAN, WAN and WWAN networks built
// from veth pairs (lan_lab.h). Requests come from hosts in their own namespaces; replies and
// notifications are received there.
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include "core/build_config.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "discovery/broadcast.h"
#include "discovery/listen.h"
#include "harness/context_reset.h"
#include "harness/log_capture.h"
#include "harness/sandbox.h"
#include "lan_lab.h"
#include "platform/loop.h"

namespace {

using namespace lanlab;

const char kMac[] = "02:00:5e:10:20:30";
const char kRequest[] = "{\"code\":5}";

std::string reply_text(const std::string &host, const std::string &flag, const std::string &ssid,
                       const std::string &mac)
{
    return "{ \"code\": 6, \"msg\": \"" ZND_HOST_NAME " hostip\", \"data\": { \"host\": " + host +
           ", \"flag\": " + flag + ", \"ssid\": \"" + ssid + "\", \"mac\": \"" + mac + "\" } }";
}

std::string quoted(const char *s)
{
    return std::string("\"") + s + "\"";
}

class Discovery : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZND_ContextReset();
        std::string why;
        ASSERT_TRUE(Build(&why)) << why;
        WriteNetworkConfig(kLanRouter, "255.255.255.0", kMac);
        WriteWireless("\toption ssid 'HomeNet'\n");
        ASSERT_EQ(0, ZND_LoopInit());
        ASSERT_EQ(ZND_OK, ZND_NotifyListenInit());
    }

    void TearDown() override
    {
        ZND_FdDelete(&g_znd.broadcastWatcher);
        close(g_znd.broadcastWatcher.fd);
        ZND_LoopDone();
        ZND_ContextReset();
    }

    // Sends text from port 40000 of host (in namespace ns) to port 7167 of router and serves the
    // discovery socket. Returns what arrived at port 7168 of the host ("" when nothing did).
    // A request that gets no answer is served until the log shows it was handled.
    std::string Ask(const char *ns, const char *host, const char *router, const std::string &text,
                    const char *handled_line = "respond broacast request ok")
    {
        int reply_sock = UdpIn(ns, host, 7168);
        int send_sock = UdpIn(ns, host, 40000);
        EXPECT_GE(reply_sock, 0);
        EXPECT_GE(send_sock, 0);
        EXPECT_TRUE(SendTo(send_sock, router, 7167, text));
        size_t before = log.Count(handled_line);
        EXPECT_TRUE(Serve([&] { return log.Count(handled_line) > before; }, 5000)) << handled_line;
        Serve([&] { return Readable(reply_sock); }, 200);
        std::string reply;
        int port = 0;
        if (Receive(reply_sock, 0, &reply, nullptr, &port)) {
            EXPECT_EQ(7167, port) << "the reply leaves from the discovery socket";
        }
        EXPECT_FALSE(Readable(send_sock)) << "nothing goes back to the port the request came from";
        close(reply_sock);
        close(send_sock);
        return reply;
    }

    LogCapture log;
};

TEST_F(Discovery, LanHostGetsTheLanAddressAndFlagOne)
{
    EXPECT_TRUE(log.Has("[ZND_INFO]  notify_init ok  [line:"));
    ZND_DebugOn();
    std::string expected = reply_text(quoted(kLanRouter), "1", "HomeNet", kMac);
    EXPECT_EQ(expected, Ask("lan", kLanHost, kLanRouter, kRequest));
    EXPECT_TRUE(log.Has(std::string("[ZND_DBG]  接受到一个连接：") + kLanHost + " \r\n  [line:"));
    EXPECT_TRUE(log.Has("[ZND_DBG]  respond msg:\n" + expected + "\n  [line:"));
    EXPECT_TRUE(log.Has("[ZND_INFO]  respond broacast request ok  [line:"));
}

TEST_F(Discovery, LanHostAskingTheWanAddressStillGetsTheLanAddress)
{
    ASSERT_EQ(0, ZND_TestSh("ip -n lan route add default via 192.168.1.1"));
    // The network the request came from decides, not the address it was sent to.
    EXPECT_EQ(reply_text(quoted(kLanRouter), "1", "HomeNet", kMac), Ask("lan", kLanHost, kWanRouter, kRequest));
}

TEST_F(Discovery, WanAndWwanHostsGetTheirNetworksAddressAndFlagZero)
{
    EXPECT_EQ(reply_text(quoted(kWanRouter), "0", "HomeNet", kMac), Ask("wan", kWanHost, kWanRouter, kRequest));
    EXPECT_EQ(reply_text(quoted(kWwanRouter), "0", "HomeNet", kMac),
              Ask("wwan", kWwanHost, kWwanRouter, kRequest));
}

// Datagrams that arrive together are all handled: the socket is edge-triggered, so one readiness
// notification must read every datagram that is waiting, also behind ones that get no answer.
TEST_F(Discovery, RequestsQueuedBehindRefusedDatagramsAreAnswered)
{
    int lan_reply = UdpIn("lan", kLanHost, 7168), lan_send = UdpIn("lan", kLanHost, 40000);
    int wan_reply = UdpIn("wan", kWanHost, 7168), wan_send = UdpIn("wan", kWanHost, 40000);
    ASSERT_TRUE(SendTo(lan_send, kLanRouter, 7167, "{\"code\":4}"));
    ASSERT_TRUE(SendTo(wan_send, kWanRouter, 7167, "not json"));
    ASSERT_TRUE(SendTo(lan_send, kLanRouter, 7167, kRequest));
    ASSERT_TRUE(SendTo(wan_send, kWanRouter, 7167, kRequest));
    usleep(100000);   // all four are queued before the loop looks at the socket
    EXPECT_TRUE(Serve([&] { return log.Count("respond broacast request ok") == 2; }, 2000));
    EXPECT_EQ(2u, log.Count("unknow the request msg"));
    std::string reply;
    ASSERT_TRUE(Receive(lan_reply, 1000, &reply));
    EXPECT_EQ(reply_text(quoted(kLanRouter), "1", "HomeNet", kMac), reply);
    ASSERT_TRUE(Receive(wan_reply, 1000, &reply));
    EXPECT_EQ(reply_text(quoted(kWanRouter), "0", "HomeNet", kMac), reply);
    for (int fd : {lan_reply, lan_send, wan_reply, wan_send})
        close(fd);
}

// A host that floods the port gets a share of each turn of the loop, not the whole loop: one
// callback leaves datagrams waiting, and the loop comes back for them by itself. Each of the error
// lines they cause is written a few times a second; the next one counts what was left out.
TEST_F(Discovery, AFloodedPortIsServedInTurnsAndItsLinesAreLimited)
{
    int flood = UdpIn("", "127.0.0.1", 40000);   // loopback: queued before sendto returns
    ASSERT_GE(flood, 0);
    for (int i = 0; i < 40; i++)
        ASSERT_TRUE(SendTo(flood, "127.0.0.1", 7167, "not json"));
    Notify_Broadcast_cb(&g_znd.broadcastWatcher, ZND_FD_READ);
    EXPECT_TRUE(Readable(g_znd.broadcastWatcher.fd));
    EXPECT_TRUE(Serve([&] { return !Readable(g_znd.broadcastWatcher.fd); }, 2000));
    size_t shown = log.Count("[ZND_ERROR]  unknow the request msg  [line:");
    EXPECT_GE(shown, 1u);
    EXPECT_LE(shown, 10u);
    EXPECT_LE(log.Count("[ZND_ERROR]  parse msg failure  [line:"), 10u);

    usleep(1100000);   // past the second: the next line is written after the count
    ASSERT_TRUE(SendTo(flood, "127.0.0.1", 7167, "not json"));
    EXPECT_TRUE(Serve([&] { return log.Count("unknow the request msg") > shown; }, 2000));
    size_t written = 0, left_out = 0;
    const auto &lines = log.lines();
    for (size_t i = 0; i < lines.size(); i++) {
        if (lines[i].text.find("unknow the request msg") == std::string::npos)
            continue;
        written++;
        const std::string prefix = "[ZND_ERROR]  ";
        if (i > 0 && lines[i - 1].text.find(" lines like the next left out  [line:") != std::string::npos)
            left_out += std::stoul(lines[i - 1].text.substr(prefix.size()));
    }
    EXPECT_GT(left_out, 0u);
    EXPECT_EQ(41u, written + left_out);
    close(flood);
}

TEST_F(Discovery, WithoutWanAndWwanAddressesHostAndFlagAreNull)
{
    ASSERT_EQ(0, ZND_TestSh("ip addr flush dev eth1 && ip addr flush dev wlan0"));
    EXPECT_EQ(reply_text("null", "null", "HomeNet", kMac), Ask("lan", kLanHost, kLanRouter, kRequest));
}

TEST_F(Discovery, OneOfWanAndWwanIsEnoughForALanAnswer)
{
    ASSERT_EQ(0, ZND_TestSh("ip addr flush dev eth1"));
    EXPECT_EQ(reply_text(quoted(kLanRouter), "1", "HomeNet", kMac), Ask("lan", kLanHost, kLanRouter, kRequest));
    EXPECT_EQ(reply_text(quoted(kWwanRouter), "0", "HomeNet", kMac),
              Ask("wwan", kWwanHost, kWwanRouter, kRequest));
}

TEST_F(Discovery, WithoutLanAddressOrMaskHostAndFlagAreNull)
{
    WriteNetworkConfig("", "255.255.255.0", kMac);
    EXPECT_EQ(reply_text("null", "null", "HomeNet", kMac), Ask("wan", kWanHost, kWanRouter, kRequest));
    WriteNetworkConfig(kLanRouter, "", kMac);
    EXPECT_EQ(reply_text("null", "null", "HomeNet", kMac), Ask("lan", kLanHost, kLanRouter, kRequest));
}

TEST_F(Discovery, HostOfNoKnownNetworkGetsNull)
{
    // A second network behind the WAN link that none of the router's masks covers.
    ASSERT_EQ(0, ZND_TestSh("ip -n wan addr add 10.1.3.7/24 dev wan0 && ip route add 10.1.3.0/24 dev eth1"));
    EXPECT_EQ(reply_text("null", "null", "HomeNet", kMac), Ask("wan", "10.1.3.7", kWanRouter, kRequest));
}

// As OpenWrt writes them: an address with its prefix length, or a list of those. The router answers
// with its address on the sender's network, on the WAN and WWAN links as well.
TEST_F(Discovery, EveryLanAndWwanAddressAnswersItsNetwork)
{
    ASSERT_EQ(0, ZND_TestSh("ip addr add 10.77.0.1/24 dev br-lan && ip -n lan addr add 10.77.0.9/24 dev lan0 && "
                            "ip addr add 172.16.9.2/24 dev wlan0 && ip -n wwan addr add 172.16.9.9/24 dev wwan0"));
    WriteNetworkConfigLines("\toption ipaddr '192.168.1.1/24'\n", kMac);
    EXPECT_EQ(reply_text(quoted(kLanRouter), "1", "HomeNet", kMac), Ask("lan", kLanHost, kLanRouter, kRequest));
    WriteNetworkConfigLines("\tlist ipaddr '192.168.1.1/24'\n\tlist ipaddr '10.77.0.1/255.255.255.0'\n", kMac);
    EXPECT_EQ(reply_text(quoted(kLanRouter), "1", "HomeNet", kMac), Ask("lan", kLanHost, kLanRouter, kRequest));
    EXPECT_EQ(reply_text("\"10.77.0.1\"", "1", "HomeNet", kMac), Ask("lan", "10.77.0.9", "10.77.0.1", kRequest));
    EXPECT_EQ(reply_text("\"172.16.9.2\"", "0", "HomeNet", kMac), Ask("wwan", "172.16.9.9", "172.16.9.2", kRequest));
}

TEST_F(Discovery, MissingWwanInterfaceIsLoggedOnce)
{
    WriteNetworkConfigLines("\toption ipaddr '192.168.1.1'\n\toption netmask '255.255.255.0'\n", kMac, false);
    EXPECT_EQ(reply_text(quoted(kLanRouter), "1", "HomeNet", kMac), Ask("lan", kLanHost, kLanRouter, kRequest));
    EXPECT_EQ(reply_text(quoted(kLanRouter), "1", "HomeNet", kMac), Ask("lan", kLanHost, kLanRouter, kRequest));
    EXPECT_EQ(1u, log.Count("[ZND_ERROR]  This [network.wwan.ifname] does not exist!!  [line:"));
}

TEST_F(Discovery, UnsetSsidAndMacAreEmptyTexts)
{
    WriteNetworkConfig(kLanRouter, "255.255.255.0", "");
    WriteWireless("");
    EXPECT_EQ(reply_text(quoted(kLanRouter), "1", "", ""), Ask("lan", kLanHost, kLanRouter, kRequest));
    ASSERT_EQ(0, unlink("/etc/config/wireless"));
    EXPECT_EQ(reply_text(quoted(kLanRouter), "1", "", ""), Ask("lan", kLanHost, kLanRouter, kRequest));
}

TEST_F(Discovery, SsidIsEscapedAsJson)
{
    WriteWireless("\toption ssid 'Caf\xc3\xa9 \"5G\"/2'\n");
    EXPECT_EQ(reply_text(quoted(kLanRouter), "1", "Caf\xc3\xa9 \\\"5G\\\"\\/2", kMac),
              Ask("lan", kLanHost, kLanRouter, kRequest));
}

TEST_F(Discovery, CodeAsTextIsNotARequest)
{
    EXPECT_EQ("", Ask("lan", kLanHost, kLanRouter, "{\"code\":\"5\"}", "unknow the request msg"));
    int missing = log.IndexOf("[ZND_ERROR]  msg obj not found  [line:");
    ASSERT_GE(missing, 0);
    EXPECT_GT(log.IndexOf("[ZND_ERROR]  unknow the request msg  [line:"), missing);
    EXPECT_FALSE(log.Has("respond broacast request ok"));
}

TEST_F(Discovery, OtherCodesAreNotRequests)
{
    EXPECT_EQ("", Ask("lan", kLanHost, kLanRouter, "{\"code\":4}", "unknow the request msg"));
    EXPECT_FALSE(log.Has("msg obj not found"));
    EXPECT_EQ("", Ask("lan", kLanHost, kLanRouter, "{\"code\":6,\"msg\":\"zunaro hostip\"}",
                      "unknow the request msg"));
    EXPECT_EQ(2u, log.Count("unknow the request msg"));
    EXPECT_FALSE(log.Has("respond broacast request ok"));
}

std::string padded_request(size_t size)
{
    std::string head = "{\"code\":5,\"pad\":\"";
    std::string tail = "\"}";
    return head + std::string(size - head.size() - tail.size(), 'p') + tail;
}

TEST_F(Discovery, DatagramsThatFillTheBufferAreRefused)
{
    std::string fits = padded_request(1023);
    ASSERT_EQ(1023u, fits.size());
    EXPECT_NE("", Ask("lan", kLanHost, kLanRouter, fits));
    for (size_t size : {1024u, 1025u, 4000u}) {
        log.Clear();
        std::string big = padded_request(size);
        EXPECT_EQ("", Ask("lan", kLanHost, kLanRouter, big, "broadcast msg too long")) << size;
        EXPECT_FALSE(log.Has("respond broacast request ok")) << size;
        EXPECT_FALSE(log.Has("unknow the request msg")) << size;
    }
    // The socket goes on answering.
    EXPECT_EQ(reply_text(quoted(kLanRouter), "1", "HomeNet", kMac), Ask("lan", kLanHost, kLanRouter, kRequest));
}

TEST_F(Discovery, ReplyThatDoesNotFitTheBufferIsNotSent)
{
    // Control characters grow six-fold in JSON: 2 x 127 of them make a reply of over 1500 bytes.
    std::string ctl(127, '\x01');
    WriteWireless("\toption ssid '" + ctl + "'\n");
    WriteNetworkConfig(kLanRouter, "255.255.255.0", ctl);
    EXPECT_EQ("", Ask("lan", kLanHost, kLanRouter, kRequest, "respond msg too long"));
    EXPECT_FALSE(log.Has("respond broacast request ok"));
}

TEST_F(Discovery, EmptyDatagramIsIgnored)
{
    log.Clear();
    int send_sock = UdpIn("lan", kLanHost, 40000);
    ASSERT_TRUE(SendTo(send_sock, kLanRouter, 7167, ""));
    Serve([] { return false; }, 200);
    for (const auto &l : log.lines())
        ADD_FAILURE() << "unexpected: " << l.text;
    close(send_sock);
    EXPECT_EQ(reply_text(quoted(kLanRouter), "1", "HomeNet", kMac), Ask("lan", kLanHost, kLanRouter, kRequest));
}

class Broadcast : public ::testing::Test {
protected:
    void SetUp() override
    {
        ZND_ContextReset();
        std::string why;
        ASSERT_TRUE(Build(&why)) << why;
        WriteNetworkConfig(kLanRouter, "255.255.255.0", kMac);
        lan = UdpIn("lan", "0.0.0.0", 7168);
        wan = UdpIn("wan", "0.0.0.0", 7168);
        wwan = UdpIn("wwan", "0.0.0.0", 7168);
        ASSERT_TRUE(lan >= 0 && wan >= 0 && wwan >= 0);
        ZND_DebugOn();
    }
    void TearDown() override
    {
        close(lan);
        close(wan);
        close(wwan);
        ZND_ContextReset();
    }

    // The order in which the daemon sent, from its debug lines.
    std::vector<std::string> SentTo()
    {
        std::vector<std::string> out;
        for (const auto &l : log.lines()) {
            const std::string prefix = "[ZND_DBG]  SendBroadcast: ";
            if (l.text.compare(0, prefix.size(), prefix) == 0)
                out.push_back(l.text.substr(prefix.size(), l.text.find('\n') - prefix.size()));
        }
        return out;
    }

    static void ExpectEvent(int fd, const std::string &broadcast, const std::string &text)
    {
        std::string got, dest;
        ASSERT_TRUE(Receive(fd, 2000, &got, &dest)) << broadcast;
        EXPECT_EQ(text, got);
        EXPECT_EQ(broadcast, dest);
    }

    int lan = -1, wan = -1, wwan = -1;
    LogCapture log;
};

TEST_F(Broadcast, EventGoesToWanThenWwanThenLan)
{
    EXPECT_EQ(ZND_OK, ZND_NotifyBroadcast(ZND_NOTIFY_ACC_SUCCESS));
    const std::string text = "{ \"code\": 1, \"msg\": \"interrupt\", \"data\": null }";
    ExpectEvent(wan, "10.1.2.255", text);
    ExpectEvent(wwan, "172.16.5.255", text);
    ExpectEvent(lan, "192.168.1.255", text);
    EXPECT_EQ((std::vector<std::string>{"10.1.2.255", "172.16.5.255", "192.168.1.255"}), SentTo());
    EXPECT_TRUE(log.Has("[ZND_DBG]  SendBroadcast: 10.1.2.255\n" + text + "\n  [line:"));
}

TEST_F(Broadcast, EveryEventCode)
{
    for (int code : {ZND_NOTIFY_ACC_STOPPED, ZND_NOTIFY_ACC_FAILED, ZND_NOTIFY_WAN_DROPPED}) {
        EXPECT_EQ(ZND_OK, ZND_NotifyBroadcast(code));
        std::string text = "{ \"code\": " + std::to_string(code) + ", \"msg\": \"interrupt\", \"data\": null }";
        ExpectEvent(wan, "10.1.2.255", text);
        ExpectEvent(wwan, "172.16.5.255", text);
        ExpectEvent(lan, "192.168.1.255", text);
    }
}

TEST_F(Broadcast, TheLanBroadcastIsSlashTwentyFourWhateverTheMask)
{
    ASSERT_EQ(0, ZND_TestSh("ip addr flush dev eth1 && ip addr flush dev wlan0"));
    WriteNetworkConfig(kLanRouter, "255.255.0.0", kMac);
    EXPECT_EQ(ZND_OK, ZND_NotifyBroadcast(ZND_NOTIFY_ACC_STOPPED));
    ExpectEvent(lan, "192.168.1.255", "{ \"code\": 0, \"msg\": \"interrupt\", \"data\": null }");
    EXPECT_EQ(std::vector<std::string>{"192.168.1.255"}, SentTo());
    std::string got;
    EXPECT_FALSE(Receive(wan, 100, &got));
    EXPECT_FALSE(Receive(wwan, 0, &got));
}

TEST_F(Broadcast, EventGoesToEveryLanNetwork)
{
    ASSERT_EQ(0, ZND_TestSh("ip addr flush dev eth1 && ip addr flush dev wlan0 && ip addr add 10.77.0.1/24 dev br-lan && "
                            "ip -n lan addr add 10.77.0.9/24 dev lan0"));
    WriteNetworkConfigLines("\tlist ipaddr '192.168.1.1/24'\n\tlist ipaddr '10.77.0.1/24'\n", kMac);
    EXPECT_EQ(ZND_OK, ZND_NotifyBroadcast(ZND_NOTIFY_ACC_STOPPED));
    EXPECT_EQ((std::vector<std::string>{"192.168.1.255", "10.77.0.255"}), SentTo());
    ExpectEvent(lan, "192.168.1.255", "{ \"code\": 0, \"msg\": \"interrupt\", \"data\": null }");
    ExpectEvent(lan, "10.77.0.255", "{ \"code\": 0, \"msg\": \"interrupt\", \"data\": null }");
}

TEST_F(Broadcast, FirstFailingSendEndsTheRound)
{
    // wlan0 keeps its address but, being down, has no route: the WWAN send fails.
    ASSERT_EQ(0, ZND_TestSh("ip link set wlan0 down"));
    EXPECT_EQ(ZND_ERR_COMMON, ZND_NotifyBroadcast(ZND_NOTIFY_ACC_SUCCESS));
    ExpectEvent(wan, "10.1.2.255", "{ \"code\": 1, \"msg\": \"interrupt\", \"data\": null }");
    EXPECT_TRUE(log.Has("[ZND_ERROR]  broadcast send err: Network is unreachable  [line:"));
    EXPECT_EQ((std::vector<std::string>{"10.1.2.255", "172.16.5.255"}), SentTo());
    std::string got;
    EXPECT_FALSE(Receive(lan, 200, &got)) << "the LAN is not told after a failure";
}

TEST_F(Broadcast, LanAddressThatIsNotDottedSendsNoLanBroadcast)
{
    WriteNetworkConfig("", "255.255.255.0", kMac);
    EXPECT_EQ(ZND_OK, ZND_NotifyBroadcast(ZND_NOTIFY_ACC_STOPPED));
    EXPECT_EQ((std::vector<std::string>{"10.1.2.255", "172.16.5.255"}), SentTo());
    EXPECT_TRUE(log.Has("lan address() invalid, no lan broadcast"));
    std::string got;
    EXPECT_FALSE(Receive(lan, 200, &got));
}

} // namespace

namespace {

TEST(DiscoveryStart, PortInUseEndsTheDaemonWithStatusOne)
{
    ZND_ContextReset();
    ASSERT_EQ(0, ZND_LoopInit());
    int holder = lanlab::UdpIn("", "0.0.0.0", 7167, false);
    ASSERT_GE(holder, 0);
    EXPECT_EXIT((ZND_TestLogToStderr(), ZND_NotifyListenInit()), ::testing::ExitedWithCode(1), "broadcast usock error(.|\n)*usock: ");
    EXPECT_NE(std::string::npos, ZND_TestReadFile("/tmp/zunaro.log").find("]: Notify Init fail\n"));
    close(holder);
    ZND_LoopDone();
}

} // namespace
