#include "tunnel/acc_fixture.h"

#include <cstdio>
#include <cstring>
#include "control/state.h"
#include "core/context.h"
#include "core/log.h"
#include "core/paths.h"
#include "harness/context_reset.h"
#include "harness/sandbox.h"
#include "route/route_hash.h"

const char kOpenvpnConfig[] =
    "\nconfig openvpn 'zunaro'\n"
    "\toption enabled '1'\n"
    "\toption client '1'\n"
    "\toption dev 'tun'\n"
    "\toption auth_user_pass '/etc/openvpn/userpass.txt'\n";

const char kNetworkConfig[] =
    "\nconfig interface 'loopback'\n"
    "\toption ifname 'lo'\n"
    "\toption proto 'static'\n"
    "\nconfig interface 'vpn'\n"
    "\toption proto 'l2tp'\n"
    "\toption auto '0'\n"
    "\toption defaultroute '0'\n";

const char kIpsecConf[] =
    "# client\n"
    "conn zunaro\n"
    "\tleftauth=eap-mschapv2\n"
    "\teap_identity=old\n"
    "\tright=0.0.0.0\n"
    "\trightid=%any\n"
    "\tauto=add\n";

namespace {

void AddRoute(ZND_RouteHash *set, const char *ip, const char *mask)
{
    ZND_RouteEntry e = MakeEntry(ip, mask);
    ZND_RouteHashAdd(set, &e);
}

const std::string kPingPrefix = "ping -q -c 1 -W 1 1.2.4.8";

} // namespace

void AccFixture::SetUp()
{
    ZND_ContextReset();
    ZND_DebugOn();
    ASSERT_TRUE(ZND_TestWriteFile("/etc/config/openvpn", kOpenvpnConfig));
    ASSERT_TRUE(ZND_TestWriteFile("/etc/config/network", kNetworkConfig));
    ASSERT_TRUE(ZND_TestWriteFile(ZND_PATH_IPSEC_CONF, kIpsecConf));
    for (const char *dev : {"tun0", "ipsec0", "l2tp-vpn", "pptp-vpn"})
        ASSERT_EQ(0, ZND_TestSh(std::string("ip tuntap add ") + dev + " mode tun"));

    // A failed probe costs its one-second wait; the cloud is out of reach.
    shell.On("ping ", FakeShell::Exit(1), "", [](const std::string &) { FakeClock::Spend(1000); });
    shell.On("ip route", 0, "default via 10.0.0.1 dev eth0 \n10.0.0.0/24 dev eth0 scope link\n");
    shell.On("grep -q", FakeShell::Exit(1));
    shell.On("curl ", FakeShell::Exit(7));
    WanAnswers(true);

    AccNodeServer &n = g_znd.nodes[0];
    n.id = 7;
    snprintf(n.cSvrIpv4, sizeof n.cSvrIpv4, "%s", TEST_NODE_ADDR);
    snprintf(n.cSvrName, sizeof n.cSvrName, "node-a");
    snprintf(n.cOpenVpnDev, sizeof n.cOpenVpnDev, "tun");
    n.ulOpenVpnPort = 1194;
    snprintf(g_znd.client.uname, sizeof g_znd.client.uname, "demo");
    snprintf(g_znd.client.upass, sizeof g_znd.client.upass, "zunaro-demo");
    g_znd.client.gid = ZND_GAME_ID;

    ZND_RouteHashInit(ZND_GetLoginRouteSet());
    ZND_RouteHashInit(ZND_GetTrafficRouteSet());
    AddRoute(ZND_GetLoginRouteSet(), "198.18.0.0", "255.255.255.0");
    AddRoute(ZND_GetLoginRouteSet(), "198.19.0.10", "255.255.255.255");
    AddRoute(ZND_GetTrafficRouteSet(), "198.18.100.0", "255.255.255.0");
    AddRoute(ZND_GetTrafficRouteSet(), "198.51.0.0", "255.255.0.0");
    AddRoute(ZND_GetTrafficRouteSet(), "100.64.0.0", "255.192.0.0");
    g_znd.curState = ZND_STATE_LOGIN_OK;
}

void AccFixture::TearDown()
{
    ZND_ContextReset();
}

void AccFixture::TunnelAnswers(const std::string &dev, bool answers)
{
    if (answers)
        shell.On("-I " + dev + " ", 0);
    else
        shell.On("-I " + dev + " ", FakeShell::Exit(1), "", [](const std::string &) { FakeClock::Spend(1000); });
}

void AccFixture::TunnelAnswersAfter(const std::string &dev, int probes)
{
    TunnelAnswers(dev, true);
    // Each failed state check pings all five resolvers.
    shell.On("-I " + dev + " ", FakeShell::Exit(1), "", [](const std::string &) { FakeClock::Spend(1000); },
             probes * 5);
}

void AccFixture::WanAnswers(bool answers)
{
    // A probe without an interface has " > " right after the address.
    for (const char *addr : {"1.2.4.8", "114.114.114.114", "114.114.115.115", "8.8.4.4", "8.8.8.8"}) {
        if (answers)
            shell.On(std::string(addr) + " > ", 0);
        else
            shell.On(std::string(addr) + " > ", FakeShell::Exit(1), "",
                     [](const std::string &) { FakeClock::Spend(1000); });
    }
}

size_t AccFixture::Probes(const std::string &dev) const
{
    return shell.Count(kPingPrefix + " -I " + dev + " ");
}

size_t AccFixture::WanProbes() const
{
    return shell.Count(kPingPrefix + " > ");
}

uint32_t AccFixture::AccStart(uint32_t mode, uint32_t reconn)
{
    std::string m = std::to_string(mode), r = std::to_string(reconn);
    const char *params[ZND_PARAM_SLOTS] = {m.c_str(), "0", "", r.c_str()};
    return ZND_EventMsgHaldle(ZND_EVT_ACC_START, params, nullptr);
}

void AccFixture::ReachAccOk(uint32_t mode, const std::string &dev, uint32_t reconn)
{
    TunnelAnswers(dev);
    ASSERT_EQ(0u, AccStart(mode, reconn));
    clock.Advance(1000);
    ASSERT_EQ(ZND_STATE_ACC_OK, ZND_GetState());
    shell.Clear();
    talk.requests.clear();
}

size_t AccFixture::KeyLogCount(const std::string &text) const
{
    // Whole entries only: "[time]: text\n".
    std::string all = KeyLog(), entry = "]: " + text + "\n";
    size_t n = 0;
    for (size_t pos = all.find(entry); pos != std::string::npos; pos = all.find(entry, pos + 1))
        n++;
    return n;
}

std::string AccFixture::KeyLog() const
{
    return ZND_TestReadFile(ZND_PATH_KEY_LOG);
}

int AccFixture::CommandIndex(const std::string &cmd) const
{
    const auto &cmds = shell.commands();
    for (size_t i = 0; i < cmds.size(); i++)
        if (cmds[i] == cmd)
            return (int)i;
    return -1;
}
