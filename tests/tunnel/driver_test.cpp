// The four drivers, the mode table and the stop: exact commands, UCI values, files and logs.
#include <sys/stat.h>
#include "config/uci.h"
#include "core/context.h"
#include "core/log.h"
#include "core/paths.h"
#include "core/result.h"
#include "core/timer.h"
#include "harness/sandbox.h"
#include "tunnel/acc_fixture.h"
#include "tunnel/driver.h"
#include "tunnel/ipsec.h"
#include "tunnel/netifd_vpn.h"
#include "tunnel/openvpn.h"

namespace {

std::string Uci(const char *package, const char *section, const char *option)
{
    char value[512] = {};
    if (UCI_GetCfgInfo(package, section, option, value, sizeof value) != ZND_OK)
        return "<missing>";
    return value;
}

mode_t FileMode(const char *path)
{
    struct stat st;
    return stat(path, &st) == 0 ? st.st_mode & 07777 : 0;
}

using Drivers = AccFixture;
using Cmds = std::vector<std::string>;

TEST_F(Drivers, ModeTableNamesAndInterfaces)
{
    const char *names[] = {"ZN_ACC_AUTO", "ZN_ACC_OPENVPN", "ZN_ACC_IPSEC", "ZN_ACC_L2TP", "ZN_ACC_PPTP"};
    for (uint32_t m = 0; m < ZN_ACC_MODE_MAX; m++) {
        EXPECT_EQ(m, ZNACC_ModeTable[m].mode);
        EXPECT_STREQ(names[m], ZNACC_ModeTable[m].name);
        bool has_ops = m != 0;
        EXPECT_EQ(has_ops, ZNACC_ModeTable[m].up != nullptr);
        EXPECT_EQ(has_ops, ZNACC_ModeTable[m].down != nullptr);
        EXPECT_EQ(has_ops, ZNACC_ModeTable[m].state != nullptr);
    }
    EXPECT_STREQ("unknown", ZND_GetAccTunName(0));
    EXPECT_STREQ("tun0", ZND_GetAccTunName(1));
    EXPECT_STREQ("ipsec0", ZND_GetAccTunName(2));
    EXPECT_STREQ("l2tp-vpn", ZND_GetAccTunName(3));
    EXPECT_STREQ("pptp-vpn", ZND_GetAccTunName(4));
    EXPECT_STREQ("unknown", ZND_GetAccTunName(5));

    g_znd.curAccMode = 3;
    g_znd.accDailTimerCount = 9;
    g_znd.accReconnCount = 4;
    EXPECT_EQ(3u, ZND_GetAccMode());
    ZND_ResetAccDailTimerCount();
    EXPECT_EQ(0u, g_znd.accDailTimerCount);
    EXPECT_EQ(4u, g_znd.accReconnCount);
    ZND_ResetAccReconnCount();
    EXPECT_EQ(0u, g_znd.accReconnCount);
}

TEST_F(Drivers, OpenvpnUpWritesRemoteDevAndCredentialsThenStartsLater)
{
    ClientRecord *c = &g_znd.client;
    ASSERT_EQ(ZND_OK, ZNACC_OpenvpnUp(c, &g_znd.nodes[0]));
    EXPECT_EQ("203.0.113.10 1194", Uci("openvpn", "zunaro", "remote"));
    EXPECT_EQ("tun", Uci("openvpn", "zunaro", "dev"));
    EXPECT_EQ("1", Uci("openvpn", "zunaro", "enabled")) << "the rest of the section stays";
    EXPECT_EQ("demo\nzunaro-demo\n", ZND_TestReadFile(ZND_PATH_OPENVPN_USERPASS));
    EXPECT_EQ(0600u, FileMode(ZND_PATH_OPENVPN_USERPASS));
    EXPECT_EQ(Cmds{"sleep 2 && [ -e /var/run/zunaro-openvpn-start ] && /etc/init.d/openvpn start >/dev/null 2>&1 &"}, shell.commands());
    EXPECT_STREQ("tun0", c->accTun);
    EXPECT_TRUE(log.Has("[ZND_DBG]  openvpn up!!  [line:"));

    // The device follows the node; the state probe follows the device.
    snprintf(g_znd.nodes[0].cOpenVpnDev, sizeof g_znd.nodes[0].cOpenVpnDev, "tunx");
    g_znd.nodes[0].ulOpenVpnPort = 443;
    ASSERT_EQ(ZND_OK, ZNACC_OpenvpnUp(c, &g_znd.nodes[0]));
    EXPECT_EQ("203.0.113.10 443", Uci("openvpn", "zunaro", "remote"));
    EXPECT_EQ("tunx", Uci("openvpn", "zunaro", "dev"));
    EXPECT_STREQ("tunx0", c->accTun);
    TunnelAnswers("tunx0");
    EXPECT_EQ(ZND_OK, ZNACC_OpenvpnState());
    EXPECT_EQ(1u, Probes("tunx0"));
    EXPECT_EQ(0u, Probes("tun0"));
}

TEST_F(Drivers, OpenvpnStateFallsBackToTun0)
{
    TunnelAnswers("tun0");
    EXPECT_EQ(ZND_OK, ZNACC_OpenvpnState()) << "nothing recorded";
    // A device another kind recorded is not OpenVPN's.
    snprintf(g_znd.client.accTun, sizeof g_znd.client.accTun, "ipsec0");
    EXPECT_EQ(ZND_OK, ZNACC_OpenvpnState());
    EXPECT_EQ(2u, Probes("tun0"));
    EXPECT_EQ(0u, Probes("ipsec0"));
    EXPECT_TRUE(log.Has("[ZND_DBG]  openvpn tunnel is active"));
}

TEST_F(Drivers, OpenvpnUpWithoutItsSectionConfiguresAndStartsNothing)
{
    ASSERT_TRUE(ZND_TestWriteFile("/etc/config/openvpn", "\nconfig openvpn 'other'\n\toption dev 'tun'\n"));
    EXPECT_EQ(ZND_ERR_COMMON, ZNACC_OpenvpnUp(&g_znd.client, &g_znd.nodes[0]));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  openvpn uci set fail"));
    EXPECT_TRUE(shell.commands().empty());
    EXPECT_FALSE(ZND_TestFileExists(ZND_PATH_OPENVPN_USERPASS));
    EXPECT_STREQ("", g_znd.client.accTun);
}

TEST_F(Drivers, UpOperationsNeedBothRecords)
{
    for (uint32_t m = 1; m < ZN_ACC_MODE_MAX; m++) {
        log.Clear();
        EXPECT_EQ(ZND_ERR_COMMON, ZNACC_ModeTable[m].up(nullptr, &g_znd.nodes[0])) << m;
        EXPECT_EQ(ZND_ERR_COMMON, ZNACC_ModeTable[m].up(&g_znd.client, nullptr)) << m;
        EXPECT_EQ(2u, log.Count("[ZND_ERROR]  the argument point is NULL!!")) << m;
    }
    EXPECT_TRUE(shell.commands().empty());
}

TEST_F(Drivers, IpsecUpSetsIdentityPeerAndSecret)
{
    ClientRecord *c = &g_znd.client;
    ASSERT_EQ(ZND_OK, ZNACC_IpsecUp(c, &g_znd.nodes[0]));
    EXPECT_EQ("# client\n"
              "conn zunaro\n"
              "\tleftauth=eap-mschapv2\n"
              "\teap_identity=demo\n"
              "\tright=203.0.113.10\n"
              "\trightid=%any\n"
              "\tauto=add\n",
              ZND_TestReadFile(ZND_PATH_IPSEC_CONF));
    EXPECT_EQ(0644u, FileMode(ZND_PATH_IPSEC_CONF)) << "the configuration keeps its mode";
    EXPECT_EQ("demo : EAP \"zunaro-demo\"\n", ZND_TestReadFile(ZND_PATH_IPSEC_SECRETS));
    EXPECT_EQ(0600u, FileMode(ZND_PATH_IPSEC_SECRETS));
    EXPECT_EQ(Cmds{"/etc/init.d/ipsec start >/dev/null 2>&1 &"}, shell.commands());
    EXPECT_STREQ("ipsec0", c->accTun);
    EXPECT_TRUE(log.Has("[ZND_DBG]  ipsec up!!"));
    EXPECT_EQ("", ZND_TestShOut("ls /etc | grep -e 'ipsec.*\\.' | grep -v -x -e ipsec.conf -e ipsec.secrets"))
        << "no temporary file left";
}

TEST_F(Drivers, IpsecUpWithoutUsableConfigurationStartsNothing)
{
    ASSERT_EQ(0, unlink(ZND_PATH_IPSEC_CONF));
    EXPECT_EQ(ZND_ERR_COMMON, ZNACC_IpsecUp(&g_znd.client, &g_znd.nodes[0]));
    // A configuration without a peer line would dial whatever peer it had.
    ASSERT_TRUE(ZND_TestWriteFile(ZND_PATH_IPSEC_CONF, "conn zunaro\n\teap_identity=old\n"));
    EXPECT_EQ(ZND_ERR_COMMON, ZNACC_IpsecUp(&g_znd.client, &g_znd.nodes[0]));
    EXPECT_EQ("conn zunaro\n\teap_identity=old\n", ZND_TestReadFile(ZND_PATH_IPSEC_CONF));
    EXPECT_FALSE(ZND_TestFileExists(ZND_PATH_IPSEC_SECRETS));
    EXPECT_TRUE(shell.commands().empty());
}

TEST_F(Drivers, PptpThenL2tpShareTheVpnInterface)
{
    ClientRecord *c = &g_znd.client;
    ASSERT_EQ(ZND_OK, ZNACC_PptpUp(c, &g_znd.nodes[0]));
    EXPECT_EQ("pptp", Uci("network", "vpn", "proto"));
    EXPECT_EQ("demo", Uci("network", "vpn", "username"));
    EXPECT_EQ("zunaro-demo", Uci("network", "vpn", "password"));
    EXPECT_EQ("203.0.113.10", Uci("network", "vpn", "server"));
    EXPECT_EQ("0", Uci("network", "vpn", "auto"));
    EXPECT_EQ("0", Uci("network", "vpn", "defaultroute")) << "the base configuration stays";
    EXPECT_STREQ("pptp-vpn", c->accTun);
    EXPECT_TRUE(log.Has("[ZND_DBG]  pptp UP!!"));

    snprintf(g_znd.nodes[1].cSvrIpv4, sizeof g_znd.nodes[1].cSvrIpv4, "203.0.113.12");
    ASSERT_EQ(ZND_OK, ZNACC_L2tpUp(c, &g_znd.nodes[1]));
    EXPECT_EQ("l2tp", Uci("network", "vpn", "proto"));
    EXPECT_EQ("203.0.113.12", Uci("network", "vpn", "server"));
    EXPECT_STREQ("l2tp-vpn", c->accTun);
    EXPECT_TRUE(log.Has("[ZND_DBG]  L2tp UP!!"));
    EXPECT_EQ((Cmds{"ifup -w vpn >/dev/null 2>&1 &", "ifup -w vpn >/dev/null 2>&1 &"}), shell.commands());
}

TEST_F(Drivers, VpnUpWithoutTheSectionFails)
{
    ASSERT_TRUE(ZND_TestWriteFile("/etc/config/network", "\nconfig interface 'lan'\n\toption proto 'static'\n"));
    EXPECT_EQ(ZND_ERR_COMMON, ZNACC_PptpUp(&g_znd.client, &g_znd.nodes[0]));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  pptp uci set fail"));
    EXPECT_EQ(ZND_ERR_COMMON, ZNACC_L2tpUp(&g_znd.client, &g_znd.nodes[0]));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  L2tp uci set fail"));
    EXPECT_TRUE(shell.commands().empty());
    EXPECT_STREQ("", g_znd.client.accTun);
}

TEST_F(Drivers, DownOperationsWaitForTheirCommandAndAlwaysSucceed)
{
    shell.SetDefaultStatus(FakeShell::Exit(1));
    EXPECT_EQ(ZND_OK, ZNACC_OpenvpnDown());
    EXPECT_EQ(ZND_OK, ZNACC_IpsecDown());
    EXPECT_EQ(ZND_OK, ZNACC_L2tpDown());
    EXPECT_EQ(ZND_OK, ZNACC_PptpDown());
    EXPECT_EQ((Cmds{"/etc/init.d/openvpn stop >/dev/null 2>&1", "/etc/init.d/ipsec stop >/dev/null 2>&1",
                    "ifdown vpn >/dev/null 2>&1", "ifdown vpn >/dev/null 2>&1"}),
              shell.commands());
    for (const char *text : {"openvpn down!!", "ipsec down!!", "L2tp DOWN!!", "pptp DOWN!!"})
        EXPECT_TRUE(log.Has(std::string("[ZND_DBG]  ") + text)) << text;
}

TEST_F(Drivers, StateOperationsProbeTheirInterface)
{
    ZND_DebugOff();
    const char *devs[] = {"", "tun0", "ipsec0", "l2tp-vpn", "pptp-vpn"};
    const char *kinds[] = {"", "openvpn", "ipsec", "l2tp", "pptp"};
    for (uint32_t m = 1; m < ZN_ACC_MODE_MAX; m++) {
        shell.Clear();
        EXPECT_EQ(ZND_ERR_COMMON, ZNACC_ModeTable[m].state()) << m;
        // Every resolver was tried through the device, one after the other.
        ASSERT_EQ(5u, shell.commands().size());
        EXPECT_EQ(std::string("ping -q -c 1 -W 1 8.8.8.8 -I ") + devs[m] + " > /dev/null 2>&1", shell.commands()[4]);
        EXPECT_EQ(1u, log.Count(std::string("[ZND_ERROR]  ") + kinds[m] + " tunnel is inactive")) << m;
        TunnelAnswers(devs[m]);
        EXPECT_EQ(ZND_OK, ZNACC_ModeTable[m].state()) << m;
    }
    EXPECT_FALSE(log.Has("tunnel is active")) << "debug texts only while debugging";
}

TEST_F(Drivers, AccDownStopsTheModeCancelsTheTimerAndFlushesBothTables)
{
    g_znd.curAccMode = 2;
    ZND_SetAccTimer([](ZND_Timeout *) { FAIL() << "cancelled timer fired"; }, 1000);
    EXPECT_EQ(ZND_OK, ZND_AccDown(&g_znd.client));
    EXPECT_FALSE(ZND_TimeoutPending(&g_znd.accTimer));
    EXPECT_EQ((Cmds{"/etc/init.d/ipsec stop >/dev/null 2>&1", "ip route flush table login",
                    "ip route flush table traffic"}),
              shell.commands());
    EXPECT_TRUE(log.Has("[ZND_DBG]  acc timeout cancel !!!"));
    EXPECT_TRUE(log.Has("[ZND_DBG]  ZN_ACC_IPSEC stop ok!"));
    EXPECT_TRUE(log.Has("[ZND_DBG]  AccDown ==>> ZN_ACC_IPSEC!"));
    EXPECT_EQ(2u, g_znd.curAccMode);
    clock.Advance(5000);
}

TEST_F(Drivers, AccDownInAutomaticModeStopsEveryKind)
{
    EXPECT_EQ(ZND_OK, ZND_AccDown(&g_znd.client));
    EXPECT_EQ((Cmds{"/etc/init.d/openvpn stop >/dev/null 2>&1", "/etc/init.d/ipsec stop >/dev/null 2>&1",
                    "ifdown vpn >/dev/null 2>&1", "ifdown vpn >/dev/null 2>&1", "ip route flush table login",
                    "ip route flush table traffic"}),
              shell.commands());
    for (const char *name : {"ZN_ACC_OPENVPN", "ZN_ACC_IPSEC", "ZN_ACC_L2TP", "ZN_ACC_PPTP"})
        EXPECT_TRUE(log.Has(std::string("[ZND_DBG]  for: ") + name + " stop ok!")) << name;
    EXPECT_TRUE(log.Has("[ZND_DBG]  AccDown ==>> ZN_ACC_AUTO!"));
}

TEST_F(Drivers, AccDownRefusesAnInvalidModeAndLeavesEverything)
{
    g_znd.curAccMode = 5;
    ZND_SetAccTimer([](ZND_Timeout *) {}, 1000);
    EXPECT_EQ(ZND_ERR_COMMON, ZND_AccDown(&g_znd.client));
    EXPECT_TRUE(log.Has("[ZND_ERROR]  error acc mode!"));
    EXPECT_TRUE(ZND_TimeoutPending(&g_znd.accTimer));
    EXPECT_TRUE(shell.commands().empty());
}

TEST_F(Drivers, LogoutClearsTheNodeTableEvenWhenTheStopFails)
{
    g_znd.curAccMode = 7;
    g_znd.nodes[3].id = 9;
    EXPECT_EQ(ZND_ERR_COMMON, ZND_UserLogout(&g_znd.client));
    AccNodeServer zero[ZND_NODE_TABLE_SIZE] = {};
    EXPECT_EQ(0, memcmp(zero, g_znd.nodes, sizeof zero));

    g_znd.curAccMode = 1;
    g_znd.nodes[0].id = 3;
    EXPECT_EQ(ZND_OK, ZND_UserLogout(&g_znd.client));
    EXPECT_EQ(0, memcmp(zero, g_znd.nodes, sizeof zero));
    EXPECT_EQ(1u, shell.Count("/etc/init.d/openvpn stop"));
}

} // namespace
