// Restore after an abnormal exit: the WAN wait, each saved state name, adopting a tunnel that is
// still up, and the failure paths with their log and key-log lines.
#include <gtest/gtest.h>
#include <linux/rtnetlink.h>
#include <string>
#include "control/restore.h"
#include "control/state.h"
#include "control_fixture.h"
#include "core/context.h"
#include "core/log.h"
#include "core/result.h"
#include "core/timer.h"
#include "harness/context_reset.h"
#include "harness/fake_clock.h"
#include "harness/sandbox.h"
#include "tunnel/supervision.h"

namespace control_test {
namespace {

class Restore : public ControlTest {
protected:
    void SetUp() override
    {
        ControlTest::SetUp();
        ZND_DebugOn();
        Saved("\toption currState 'LOGIN_OK'\n");
    }

    // Writes userinfo section 1 with the saved account, settings and the given state line.
    static void Saved(const std::string &state_line, const char *mode = "1")
    {
        ZND_TestWriteFile("/etc/config/userinfo", std::string("config userinfo '1'\n"
                                                              "\toption historyname 'alice'\n"
                                                              "\toption historypass 'secret'\n"
                                                              "\toption mode '") +
                                                      mode +
                                                      "'\n\toption node '7'\n\toption nodename 'tokyo'\n"
                                                      "\toption reconn '1'\n" +
                                                      state_line);
    }
    static void SavedState(const std::string &name, const char *mode = "1")
    {
        Saved("\toption currState '" + name + "'\n", mode);
    }

    // Arms the restore timer as main does and lets its first second pass.
    void Start()
    {
        ZND_SetTimer(&g_znd.restoreTimer, ZND_AbnormalRestoreTimerHandler, 1000);
        clock.Advance(1000);
    }

    bool HasKeyLog(const std::string &entry) const { return KeyLog().find("]: " + entry + "\n") != std::string::npos; }
    size_t KeyLogPos(const std::string &entry) const { return KeyLog().find("]: " + entry + "\n"); }
    bool Dialed() const { return sh.Ran("/etc/init.d/openvpn start") || sh.Ran("ifup -w vpn"); }
    void NoTunnelAnswers() { sh.On(" -I ", FakeShell::Exit(1)); }

    // Notes, at each LED reload (the state becoming LOGIN_OK), whether the key log already tells
    // of the restored login.
    void KeyLogAtLedReload()
    {
        sh.On("/etc/init.d/led reload", 0, "", [this](const std::string &) {
            logged_at_reload.push_back(HasKeyLog("[Restore]: login success"));
        });
    }

    void ExpectDialAgain(const char *name)
    {
        SavedState(name);
        KeyLogAtLedReload();
        Start();
        EXPECT_EQ(std::vector<bool>{true}, logged_at_reload) << "here the key log line comes first";
        EXPECT_EQ(ZND_STATE_ACCING, ZND_GetState());
        EXPECT_EQ(ZND_EVT_ACC_START, ZND_GetLastEvent());
        EXPECT_TRUE(sh.Ran("/etc/init.d/openvpn start"));
        EXPECT_EQ(0u, CloudCalls("/api/forceoffline"));
        EXPECT_LT(KeyLogPos("[Restore]: login success"), KeyLogPos("[Restore]: acc start"));
        EXPECT_TRUE(log.Has(std::string("[ZND_INFO]  abnormal restore preState: ") + name + "  [line:"));
        // The dialing outcome follows as usual.
        clock.Advance(1000);
        EXPECT_EQ(ZND_STATE_ACC_OK, ZND_GetState());
        EXPECT_EQ(std::vector<int>{1}, Notifications());
    }

    FakeClock clock;
    std::vector<bool> logged_at_reload;
};

TEST_F(Restore, SavedInitQuits)
{
    SavedState("INIT");
    Start();
    EXPECT_TRUE(log.Has("[ZND_DBG]  [Restore]:INIT STATUS, quit  [line:"));
    EXPECT_FALSE(log.Has("abnormal restore preState"));
    EXPECT_EQ(0u, CloudCalls("curl "));
    EXPECT_EQ(ZND_STATE_INIT, ZND_GetState());
    EXPECT_STREQ("alice", g_znd.client.uname) << "the saved account is loaded first";
    EXPECT_FALSE(ZND_TimeoutPending(&g_znd.restoreTimer));
}

TEST_F(Restore, SavedLoginOkLogsInAgain)
{
    KeyLogAtLedReload();
    Start();
    EXPECT_EQ(std::vector<bool>{false}, logged_at_reload) << "the state is set before the key log line";
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_LOGIN, ZND_GetLastEvent());
    std::vector<std::string> curls = sh.Matching("curl ");
    ASSERT_EQ(3u, curls.size());
    EXPECT_EQ("user = \"alice:secret\"\nmax-filesize = 262144\n", sh.InputOf("/api/softlogin"));
    EXPECT_NE(std::string::npos, curls[0].find("/api/softlogin"));
    EXPECT_NE(std::string::npos, curls[1].find("/api/gamelist")) << "login routes come right after the login";
    EXPECT_NE(std::string::npos, curls[2].find("/api/cfgcontrol"));
    EXPECT_EQ(7u, g_znd.nodes[0].id);
    EXPECT_EQ(2u, LoginRoutes().size());
    EXPECT_TRUE(HasKeyLog("[Restore]: login success"));
    EXPECT_TRUE(log.Has("[ZND_INFO]  abnormal restore preState: LOGIN_OK  [line:"));
    EXPECT_FALSE(Dialed());
    EXPECT_EQ(std::vector<std::string>{"/etc/init.d/led reload >/dev/null &"}, LedCommands());
}

TEST_F(Restore, SavedLoginOkWithAWrongPasswordStaysInInit)
{
    cloud.login = kLoginRefused;
    Start();
    EXPECT_EQ(ZND_STATE_INIT, ZND_GetState());
    EXPECT_TRUE(log.Has("[ZND_ERROR]  [Restore]:login failed  [line:"));
    EXPECT_TRUE(HasKeyLog("[Restore]: login failed, code: 12"));
    EXPECT_EQ(1u, CloudCalls("/api/gamelist"));
    EXPECT_EQ(0u, CloudCalls("/api/cfgcontrol"));
    EXPECT_TRUE(log.Has("abnormal restore preState: LOGIN_OK"));
    EXPECT_EQ(3u, CloudCalls("/api/softlogin")) << "every server is asked, nothing is retried later";
    clock.Advance(60000);
    EXPECT_EQ(3u, CloudCalls("/api/softlogin"));
}

TEST_F(Restore, SavedLoginOkWhoseNodeListFails)
{
    CloudDown("/api/cfgcontrol");
    Start();
    EXPECT_EQ(ZND_STATE_INIT, ZND_GetState());
    EXPECT_TRUE(log.Has("[ZND_ERROR]  [Restore]:login get node failed  [line:"));
    EXPECT_TRUE(HasKeyLog("[Restore]: get acc nodes failed, code: 11"));
    EXPECT_FALSE(HasKeyLog("[Restore]: login success"));
}

TEST_F(Restore, SavedAccingDialsAgain)
{
    ExpectDialAgain("ACCING");
}

TEST_F(Restore, SavedAccOkWithoutRunningTunnelDialsAgain)
{
    ExpectDialAgain("ACC_OK");
}

TEST_F(Restore, AdoptsTheTunnelThatIsStillUp)
{
    cloud.login = kLoginInUse;
    SavedState("ACC_OK", "0");
    for (const char *dev : {"tun0", "ipsec0", "l2tp-vpn"})
        TunnelUp(dev, false);
    TunnelUp("pptp-vpn", true);
    Start();
    EXPECT_EQ(ZND_STATE_ACC_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_SUCCESS, ZND_GetLastEvent());
    EXPECT_EQ(4u, g_znd.curAccMode);
    EXPECT_STREQ("pptp-vpn", g_znd.client.accTun);
    EXPECT_EQ(0, g_znd.client.ucAccTunState);
    EXPECT_EQ(3u, rtnl.requests.size()) << "two login routes and one traffic route";
    for (const auto &r : rtnl.requests)
        EXPECT_EQ(RTM_NEWROUTE, reinterpret_cast<const struct nlmsghdr *>(r.data())->nlmsg_type);
    EXPECT_TRUE(HasKeyLog("[Restore]: acc success"));
    EXPECT_EQ(5000, ZND_TimeoutRemaining(&g_znd.accTimer));
    EXPECT_EQ(ZND_AccReconnTimeHandler, g_znd.accTimer.cb);
    EXPECT_FALSE(Dialed());
    EXPECT_EQ(0u, CloudCalls("/api/forceoffline"));
    EXPECT_EQ(2u, CloudCalls("/api/softlogin")) << "the restore's login, and the check before dialing";
    std::vector<std::string> leds = LedCommands();
    ASSERT_EQ(4u, leds.size());
    EXPECT_EQ("[ -e /sys/class/leds/state_g/brightness ] && echo 1 > /sys/class/leds/state_g/brightness",
              leds.back());
}

TEST_F(Restore, TunnelInUseButNotUpHereForcesTheOtherOfflineAndDials)
{
    cloud.login = kLoginInUse;
    SavedState("ACC_OK");
    NoTunnelAnswers();
    Start();
    EXPECT_EQ(1u, CloudCalls("/api/forceoffline"));
    EXPECT_EQ(ZND_STATE_ACCING, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_START, ZND_GetLastEvent());
    EXPECT_TRUE(sh.Ran("/etc/init.d/openvpn start"));
    EXPECT_TRUE(log.Has("[ZND_INFO]  [Restore]:ForceOffline, then Accup  [line:"));
    EXPECT_TRUE(HasKeyLog("[Restore]: forceOffline, then acc start"));
}

TEST_F(Restore, ForceOfflineRefused)
{
    cloud.login = kLoginInUse;
    cloud.force_offline = "{\"code\":3}";
    SavedState("ACCING");
    NoTunnelAnswers();
    Start();
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_FAIL, ZND_GetLastEvent());
    EXPECT_TRUE(log.Has("[ZND_ERROR]  [Restore]:Acc start failed(ForceOffline)  [line:"));
    EXPECT_TRUE(HasKeyLog("[Restore]: acc start failed(forceOffline fail)"));
    EXPECT_FALSE(Dialed());
}

TEST_F(Restore, SecondDialAfterForceOfflineFails)
{
    cloud.login = kLoginInUse;
    SavedState("ACC_OK", "9");
    NoTunnelAnswers();
    Start();
    EXPECT_EQ(1u, CloudCalls("/api/forceoffline"));
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_FAIL, ZND_GetLastEvent());
    EXPECT_TRUE(HasKeyLog("[Restore]: acc start failed(forceOffline fail)"));
}

TEST_F(Restore, DialThatFailsAtOnce)
{
    SavedState("ACC_OK", "9");
    Start();
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(ZND_EVT_ACC_FAIL, ZND_GetLastEvent());
    EXPECT_TRUE(log.Has("[ZND_ERROR]  [Restore]:Acc start failed  [line:"));
    EXPECT_TRUE(HasKeyLog("[Restore]: acc start failed, code: 2"));
    EXPECT_EQ(2, ZND_GetAccState()) << "reported as a failed acceleration with the WAN up";
}

TEST_F(Restore, AcceleratedStateWhoseLoginFailsDoesNotDial)
{
    cloud.login = kLoginRefused;
    SavedState("ACC_OK");
    Start();
    EXPECT_EQ(ZND_STATE_INIT, ZND_GetState());
    EXPECT_TRUE(HasKeyLog("[Restore]: login failed, code: 12"));
    EXPECT_FALSE(Dialed());
    EXPECT_TRUE(log.Has("[ZND_INFO]  abnormal restore preState: ACC_OK  [line:"));
}

TEST_F(Restore, UnknownOrEmptyStateNamesOnlyLogTheText)
{
    for (const std::string &line : {std::string("\toption currState 'LOGING'\n"),
                                    std::string("\toption currState 'acc_ok'\n"),
                                    std::string("\toption currState ''\n"), std::string()}) {
        ZND_ContextReset();
        log.Clear();
        sh.Clear();
        Saved(line);
        ZND_DebugOn();
        Start();
        std::string text = line.empty() ? "" : line.substr(line.find('\'') + 1, line.rfind('\'') - line.find('\'') - 1);
        EXPECT_TRUE(log.Has("[ZND_INFO]  abnormal restore preState: " + text + "  [line:")) << line;
        EXPECT_EQ(0u, CloudCalls("curl ")) << line;
        EXPECT_EQ(ZND_STATE_INIT, ZND_GetState());
    }
}

TEST_F(Restore, WaitsForTheWanOneLinePerAttemptThenRestoresOnce)
{
    WanUp(true);
    sh.On("ping -q -c 1 -W 1 ", FakeShell::Exit(1), "", nullptr, 60 * 5);   // a minute without WAN
    Start();
    clock.Advance(59000);
    EXPECT_EQ(60u, log.Count("[ZND_INFO]  Network error, fail to connect to cloud server, reconnect...  [line:"));
    EXPECT_EQ(0u, CloudCalls("curl "));
    EXPECT_EQ(ZND_STATE_INIT, ZND_GetState());
    clock.Advance(1000);
    EXPECT_EQ(ZND_STATE_LOGIN_OK, ZND_GetState());
    EXPECT_EQ(1u, CloudCalls("/api/softlogin"));
    EXPECT_FALSE(ZND_TimeoutPending(&g_znd.restoreTimer));
    clock.Advance(60000);
    EXPECT_EQ(1u, CloudCalls("/api/softlogin"));
    EXPECT_EQ(60u, log.Count("Network error, fail to connect to cloud server, reconnect..."));
}

TEST_F(Restore, LoginBeforeTheFirstSuccessfulProbeEndsTheRestore)
{
    sh.On("ping -q -c 1 -W 1 ", FakeShell::Exit(1), "", nullptr, 5);
    Start();
    EXPECT_EQ(1u, log.Count("Network error, fail to connect to cloud server, reconnect..."));
    ASSERT_EQ(ZND_OK, Send(ZND_EVT_LOGIN, {"bob", "pw"}));
    clock.Advance(1000);
    EXPECT_TRUE(log.Has("[ZND_DBG]  [Restore]:quit  [line:"));
    EXPECT_EQ(1u, CloudCalls("/api/softlogin"));
    EXPECT_STREQ("bob", g_znd.client.uname);
    EXPECT_FALSE(log.Has("abnormal restore preState"));
    EXPECT_FALSE(ZND_TimeoutPending(&g_znd.restoreTimer));
}

} // namespace
} // namespace control_test
