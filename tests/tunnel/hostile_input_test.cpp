// Credentials and node addresses that a shell or an edit expression would take for syntax: the
// files hold them literally, the commands never change, and what cannot be written safely is
// refused before anything is configured.
#include <string>
#include "config/uci.h"
#include "core/context.h"
#include "core/paths.h"
#include "core/result.h"
#include "harness/sandbox.h"
#include "tunnel/acc_fixture.h"
#include "tunnel/driver.h"
#include "tunnel/ipsec.h"
#include "tunnel/netifd_vpn.h"
#include "tunnel/openvpn.h"

namespace {

const char kHostileUser[] = "-rf o'neil\"$(touch /tmp/p)`touch /tmp/q`/&\\;|%s%n right=1.1.1.1";

// 256 characters, the longest password the record holds, full of shell and sed syntax.
std::string HostilePassword(bool with_double_quote)
{
    std::string unit = with_double_quote ? "'\"$(id)`id`/&\\-%n" : "'$(id)`id`/&\\-%n";
    std::string pass;
    while (pass.size() < ZND_UPASS_MAX)
        pass += unit;
    return pass.substr(0, ZND_UPASS_MAX);
}

void SetCredentials(const char *user, const std::string &pass)
{
    snprintf(g_znd.client.uname, sizeof g_znd.client.uname, "%s", user);
    snprintf(g_znd.client.upass, sizeof g_znd.client.upass, "%s", pass.c_str());
    ASSERT_EQ(pass, g_znd.client.upass);
}

std::string Uci(const char *package, const char *section, const char *option)
{
    char value[512] = {};
    if (UCI_GetCfgInfo(package, section, option, value, sizeof value) != ZND_OK)
        return "<missing>";
    return value;
}

using HostileInput = AccFixture;
using Cmds = std::vector<std::string>;

TEST_F(HostileInput, OpenvpnCredentialsAreWrittenLiterally)
{
    std::string pass = HostilePassword(true);
    SetCredentials(kHostileUser, pass);
    ASSERT_EQ(ZND_OK, ZNACC_OpenvpnUp(&g_znd.client, &g_znd.nodes[0]));
    EXPECT_EQ(std::string(kHostileUser) + "\n" + pass + "\n", ZND_TestReadFile(ZND_PATH_OPENVPN_USERPASS));
    EXPECT_EQ(Cmds{"sleep 2 && [ -e /var/run/zunaro-openvpn-start ] && /etc/init.d/openvpn start >/dev/null 2>&1 &"}, shell.commands());
}

TEST_F(HostileInput, IpsecCredentialsAreWrittenLiterally)
{
    std::string pass = HostilePassword(false);
    SetCredentials(kHostileUser, pass);
    ASSERT_EQ(ZND_OK, ZNACC_IpsecUp(&g_znd.client, &g_znd.nodes[0]));
    EXPECT_EQ(std::string("# client\nconn zunaro\n\tleftauth=eap-mschapv2\n\teap_identity=") + kHostileUser +
                  "\n\tright=203.0.113.10\n\trightid=%any\n\tauto=add\n",
              ZND_TestReadFile(ZND_PATH_IPSEC_CONF));
    EXPECT_EQ(std::string(kHostileUser) + " : EAP \"" + pass + "\"\n", ZND_TestReadFile(ZND_PATH_IPSEC_SECRETS));
    EXPECT_EQ(Cmds{"/etc/init.d/ipsec start >/dev/null 2>&1 &"}, shell.commands());
}

TEST_F(HostileInput, VpnCredentialsAreStoredLiterally)
{
    std::string pass = HostilePassword(true);
    SetCredentials(kHostileUser, pass);
    ASSERT_EQ(ZND_OK, ZNACC_L2tpUp(&g_znd.client, &g_znd.nodes[0]));
    EXPECT_EQ(kHostileUser, Uci("network", "vpn", "username"));
    EXPECT_EQ(pass, Uci("network", "vpn", "password"));
    EXPECT_EQ(Cmds{"ifup -w vpn >/dev/null 2>&1 &"}, shell.commands());
}

// What every up operation must leave untouched when it refuses.
struct Snapshot {
    std::string openvpn, network, conf, userpass, secrets;
    static Snapshot Take()
    {
        return {ZND_TestReadFile("/etc/config/openvpn"), ZND_TestReadFile("/etc/config/network"),
                ZND_TestReadFile(ZND_PATH_IPSEC_CONF), ZND_TestReadFile(ZND_PATH_OPENVPN_USERPASS),
                ZND_TestReadFile(ZND_PATH_IPSEC_SECRETS)};
    }
    bool operator==(const Snapshot &o) const
    {
        return openvpn == o.openvpn && network == o.network && conf == o.conf && userpass == o.userpass &&
               secrets == o.secrets;
    }
};

void ExpectEveryKindRefuses(const FakeShell &shell, const char *what)
{
    Snapshot before = Snapshot::Take();
    for (uint32_t m = 1; m < ZN_ACC_MODE_MAX; m++) {
        g_znd.client.accTun[0] = '\0';
        EXPECT_EQ(ZND_ERR_COMMON, ZNACC_ModeTable[m].up(&g_znd.client, &g_znd.nodes[0])) << what << " mode " << m;
        EXPECT_STREQ("", g_znd.client.accTun) << what << " mode " << m;
    }
    EXPECT_TRUE(before == Snapshot::Take()) << what;
    EXPECT_TRUE(shell.commands().empty()) << what;
}

TEST_F(HostileInput, NodeAddressesThatAreNotIpv4AreRefused)
{
    ASSERT_TRUE(ZND_TestWriteFile(ZND_PATH_OPENVPN_USERPASS, "before\nbefore\n", 0600));
    ASSERT_TRUE(ZND_TestWriteFile(ZND_PATH_IPSEC_SECRETS, "before : EAP \"before\"\n", 0600));
    for (const char *addr : {"", "203.0.113.10; reboot", "$(reboot)", "`reboot`", "-f", "203.0.113.10 -f",
                             "203.0.113.10\n", "203.0.113.10/24", "203.0.113.10'", "cfg1.zunaro.example",
                             "0x7f.0.0.1", "203.0.113", "203.0.113.256"}) {
        snprintf(g_znd.nodes[0].cSvrIpv4, sizeof g_znd.nodes[0].cSvrIpv4, "%s", addr);
        log.Clear();
        ExpectEveryKindRefuses(shell, addr);
        EXPECT_EQ(4u, log.Count("node address refused: not a dotted IPv4 address")) << addr;
    }
}

TEST_F(HostileInput, CredentialsThatWouldSplitALineAreRefused)
{
    ASSERT_TRUE(ZND_TestWriteFile(ZND_PATH_OPENVPN_USERPASS, "before\nbefore\n", 0600));
    SetCredentials("demo\nsecond-line", "pass");
    ExpectEveryKindRefuses(shell, "user name with a line feed");
    SetCredentials("demo", "pass\rword");
    ExpectEveryKindRefuses(shell, "password with a carriage return");

    // The secrets line quotes the password: a quote in it cannot be written faithfully.
    SetCredentials("demo", "pa\"ss");
    Snapshot before = Snapshot::Take();
    EXPECT_EQ(ZND_ERR_COMMON, ZNACC_IpsecUp(&g_znd.client, &g_znd.nodes[0]));
    EXPECT_TRUE(before == Snapshot::Take());
    EXPECT_TRUE(shell.commands().empty());
}

TEST_F(HostileInput, OpenvpnDeviceNamesThatCannotBeDevicesAreRefused)
{
    for (const char *dev : {"", "tun;reboot", "-tun", "tun 0", "tun$(id)", "abcdefghijklmno"}) {
        snprintf(g_znd.nodes[0].cOpenVpnDev, sizeof g_znd.nodes[0].cOpenVpnDev, "%s", dev);
        EXPECT_EQ(ZND_ERR_COMMON, ZNACC_OpenvpnUp(&g_znd.client, &g_znd.nodes[0])) << dev;
    }
    EXPECT_EQ(kOpenvpnConfig, ZND_TestReadFile("/etc/config/openvpn"));
    EXPECT_TRUE(shell.commands().empty());
    // 14 characters and the digit fit a device name.
    snprintf(g_znd.nodes[0].cOpenVpnDev, sizeof g_znd.nodes[0].cOpenVpnDev, "abcdefghijklmn");
    EXPECT_EQ(ZND_OK, ZNACC_OpenvpnUp(&g_znd.client, &g_znd.nodes[0]));
    EXPECT_STREQ("abcdefghijklmn0", g_znd.client.accTun);
}

TEST(IpsecConfRewrite, OnlyTheTwoValuesChange)
{
    const std::string in = "conn a\n"
                           "  eap_identity=old # note\n"
                           "\trightid=%any\n"
                           "\trightsubnet=0.0.0.0/0\n"
                           "\tright=192.0.2.1\n"
                           "conn b\n"
                           "\teap_identity=other\n"
                           "\tright=192.0.2.2";   // no final line feed
    std::string out;
    ASSERT_TRUE(ZND_IpsecConfRewrite(in, "new", "203.0.113.10", &out));
    EXPECT_EQ("conn a\n"
              "  eap_identity=new\n"
              "\trightid=%any\n"
              "\trightsubnet=0.0.0.0/0\n"
              "\tright=203.0.113.10\n"
              "conn b\n"
              "\teap_identity=new\n"
              "\tright=203.0.113.10",
              out);
}

TEST(IpsecConfRewrite, IdentityCannotReachThePeerLine)
{
    std::string out;
    ASSERT_TRUE(ZND_IpsecConfRewrite("eap_identity=x\nright=1.1.1.1\n", "a/right=6.6.6.6&\\1", "203.0.113.10", &out));
    EXPECT_EQ("eap_identity=a/right=6.6.6.6&\\1\nright=203.0.113.10\n", out);
}

TEST(IpsecConfRewrite, BothLinesAreNeeded)
{
    std::string out;
    EXPECT_FALSE(ZND_IpsecConfRewrite("eap_identity=x\nrightid=%any\n", "a", "203.0.113.10", &out));
    EXPECT_FALSE(ZND_IpsecConfRewrite("right=1.1.1.1\n", "a", "203.0.113.10", &out));
    EXPECT_FALSE(ZND_IpsecConfRewrite("", "a", "203.0.113.10", &out));
}

} // namespace
