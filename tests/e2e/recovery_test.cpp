// The daemon getting acceleration back by itself: automatic mode moving on to the next tunnel
// kind, the WAN lost and back (told by the router's interface events), a dropped tunnel whose dial
// takes seconds, and a crash of the daemon with the tunnel still up, also after a session driven
// by the command line alone, which records what the restart reads back.
#include <chrono>
#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>
#include "harness/sandbox.h"
#include "router_session.h"

namespace e2e {
namespace {

bool Has(const std::string &text, const std::string &what)
{
    return text.find(what) != std::string::npos;
}

long MsSince(std::chrono::steady_clock::time_point t)
{
    return (long)std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t).count();
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
    int ipsec = FindLine(services, {"\"service\": \"ipsec\"", "\"result\": \"up\""}, dial);
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

// The router tells the daemon of its WAN through interface events (the package's hotplug script):
// the loss ends acceleration at once, and the return brings it back without waiting for the next
// check of supervision. The times are printed; the bounds leave room for a busy machine, and are
// still well short of what pinging alone takes (5 s or more to notice the loss, 30 s to notice
// the return).
TEST_F(RouterSession, WanLostAndBack)
{
    ASSERT_NO_FATAL_FAILURE(LoginAndAccelerate("2"));
    ListenOnLan(1, 30);
    ASSERT_NO_FATAL_FAILURE(AfterASupervisionCheck());

    auto lost = std::chrono::steady_clock::now();
    ASSERT_EQ(0, Sim("fault wan down"));
    ASSERT_TRUE(WaitForState("LOGIN_OK", 15000)) << Rpc("GetStatus").text;
    long lost_ms = MsSince(lost);
    EXPECT_EQ("3", Rpc("GetStatus").Get("result.accState")) << "WAN unreachable";
    EXPECT_EQ(1, KeyLogCount("notice wan network failed, code: 16")) << KeyLog();
    EXPECT_EQ(0, KeyLogCount("check wan network failed, code: 16")) << "the event came first";
    EXPECT_TRUE(Has(Heard(), " { \"code\": 3, \"msg\": \"interrupt\", \"data\": null }"));
    EXPECT_FALSE(LinkExists("ipsec0"));
    EXPECT_TRUE(Routes(252).empty());
    EXPECT_TRUE(Routes(251).empty());
    EXPECT_EQ("0\n1\n", InRouterOut(kLeds)) << "the status LED still shows acceleration";

    // Back: the event runs supervision's check at once, which dials again (reconnection is on).
    auto back = std::chrono::steady_clock::now();
    ASSERT_EQ(0, Sim("fault wan up"));
    ASSERT_TRUE(WaitForState("ACC_OK", 30000)) << Rpc("GetStatus").text;
    long back_ms = MsSince(back);
    EXPECT_TRUE(Has(DaemonLog(), "wan up, check network now"));
    EXPECT_EQ(1, KeyLogCount("reconn acc start")) << KeyLog();
    EXPECT_EQ("1", Rpc("GetStatus").Get("result.accState"));
    EXPECT_EQ(1, KeyLogCount("notice wan network failed, code: 16")) << "reported once";
    EXPECT_EQ(kLoginRoutes, Routes(252).size());
    EXPECT_EQ(kTrafficRoutes, Routes(251).size());

    printf("WAN down -> LOGIN_OK after %ld ms; WAN up -> ACC_OK after %ld ms (IPsec dial)\n", lost_ms, back_ms);
    EXPECT_LT(lost_ms, 3000);
    EXPECT_LT(back_ms, 12000);
}

// A dial that takes seconds (L2TP here) gets its time: supervision dials the dropped tunnel once
// and probes until it is up, and netifd's interface events of the tunnel reach the daemon.
TEST_F(RouterSession, DroppedTunnelWithASlowDialComesBackFromOneRedial)
{
    ASSERT_EQ(0, Sim("fault tunnel l2tp after 3"));
    ASSERT_NO_FATAL_FAILURE(LoginAndAccelerate("3"));
    ASSERT_TRUE(LinkExists("l2tp-vpn"));
    size_t services = ServicesLog().size();
    ASSERT_NO_FATAL_FAILURE(AfterASupervisionCheck());

    auto dropped = std::chrono::steady_clock::now();
    ASSERT_EQ(0, Sim("fault tunnel l2tp drop"));
    ASSERT_TRUE(WaitForKeyLog("reconn acc start", 1, 15000)) << KeyLog();
    ASSERT_TRUE(WaitForState("ACC_OK", 30000)) << Rpc("GetStatus").text << KeyLog();
    long back_ms = MsSince(dropped);
    printf("L2TP dropped -> ACC_OK after %ld ms (3 s dial)\n", back_ms);
    EXPECT_EQ(1, KeyLogCount("reconn acc start")) << KeyLog();
    EXPECT_EQ(0, KeyLogCount("reconn failed by retry"));
    std::vector<std::string> after = ServicesLog();
    int dials = 0;
    for (size_t i = services; i < after.size(); i++) {
        dials += Has(after[i], "\"action\": \"ifup\"");
        EXPECT_FALSE(Has(after[i], "\"result\": \"cancelled\"")) << after[i];
    }
    EXPECT_EQ(1, dials);
    EXPECT_TRUE(LinkExists("l2tp-vpn"));
    ASSERT_EQ(kTrafficRoutes, Routes(251).size());
    EXPECT_TRUE(Has(Routes(251)[0], "dev l2tp-vpn")) << Routes(251)[0];
    // The drop came to the daemon as the tunnel device's ifdown (netifd names no device then).
    EXPECT_TRUE(Has(DaemonLog(), "netDevice change ifName(l2tp-vpn), action(down), accTun(l2tp-vpn)"));
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


// Watches every process's command line for a secret until stopped; the secret is read from a
// file so that the watcher's own command line does not hold it.
const char kCmdlineWatcher[] = R"py(
import os, sys
secret = open(sys.argv[1], 'rb').read().strip()
stop, out, ready = sys.argv[2], sys.argv[3], sys.argv[4]
seen, sweeps = set(), 0
open(ready, 'w').close()
while not os.path.exists(stop):
    for pid in os.listdir('/proc'):
        try:
            cmd = open('/proc/%s/cmdline' % pid, 'rb').read() if pid.isdigit() else b''
        except OSError:
            continue
        if secret in cmd:
            seen.add(cmd.replace(b'\0', b' ').decode(errors='replace').strip())
    sweeps += 1
with open(out + '.new', 'w') as f:
    f.write('sweeps %d\n' % sweeps)
    for c in sorted(seen):
        f.write(c + '\n')
os.rename(out + '.new', out)
)py";

// The columns of zunaroctl's node table, one row per node.
std::vector<std::vector<std::string>> TableRows(const std::string &text)
{
    std::vector<std::vector<std::string>> rows;
    for (const auto &line : Lines(text)) {
        std::istringstream in(line);
        std::vector<std::string> cols;
        for (std::string c; in >> c;)
            cols.push_back(c);
        rows.push_back(cols);
    }
    return rows;
}

TEST_F(RouterSession, CommandLineSessionAndRestoreFromWhatItRecorded)
{
    // The package's userinfo: no account, no state. From here on only zunaroctl writes it.
    ASSERT_TRUE(ZND_TestWriteFile(kState + "/userinfo.pkg",
                                  ZND_TestReadFile(ZND_SIM_DIR "/../openwrt/zunaro/files/userinfo.config")));
    ASSERT_EQ(0, InRouter("cat /run/zunaro-sim/userinfo.pkg >/etc/config/userinfo"));
    ASSERT_EQ("", UserinfoOption("currState"));
    // A password of this run alone: other tests log in with the scenario's one meanwhile, and the
    // watcher below sees every command line of the machine.
    const std::string pass = "cli-pw-" + std::to_string(getpid());
    EditScenario("d['accounts']['demo']['password'] = '" + pass + "'");
    const std::string password = kState + "/password";
    ASSERT_TRUE(ZND_TestWriteFile(password, pass + "\n", 0600));
    CtlRun early = Ctl("start");
    EXPECT_EQ(2, early.exitCode) << "refused before a login";
    EXPECT_NE(std::string::npos, early.err.find("AccStart refused")) << early.err;
    EXPECT_EQ(1, Ctl("login demo").exitCode) << "no password";

    // Login, with every command line of the machine watched for the password meanwhile.
    const std::string watch = kState + "/run/cmdlines";
    ASSERT_EQ(0, ZND_TestSh("(/usr/bin/python3 -c " + ZND_TestQuote(kCmdlineWatcher) + " " + password + " " + watch +
                            ".stop " + watch + " " + watch + ".ready) >/dev/null 2>&1 &"));
    ASSERT_TRUE(WaitFor(10000, [&] { return ZND_TestFileExists(watch + ".ready"); }));
    // A command line that does hold it, so that the watcher is seen to work.
    ASSERT_EQ(0, ZND_TestSh("/bin/sh -c 'sleep 1' " + pass));
    CtlRun login = Ctl("login demo", password);
    ASSERT_TRUE(ZND_TestWriteFile(watch + ".stop", ""));
    ASSERT_TRUE(WaitFor(10000, [&] { return ZND_TestFileExists(watch); }));
    EXPECT_EQ(0, login.exitCode) << login.out << login.err;
    ASSERT_FALSE(Lines(login.out).empty());
    EXPECT_EQ("Logged in as demo, state LOGIN_OK", Lines(login.out)[0]);
    std::vector<std::string> seen = Lines(ZND_TestReadFile(watch));
    ASSERT_FALSE(seen.empty());
    EXPECT_NE("sweeps 0", seen[0]);
    bool control = false;
    for (size_t i = 1; i < seen.size(); i++) {
        if (seen[i].find("sleep 1") != std::string::npos) {
            control = true;
            continue;
        }
        ADD_FAILURE() << "the password on a command line: " << seen[i];
    }
    EXPECT_TRUE(control) << "the watcher missed the command line that holds the password";
    EXPECT_EQ("LOGIN_OK", UserinfoOption("currState"));
    EXPECT_EQ("demo", UserinfoOption("historyname"));
    EXPECT_EQ(pass, UserinfoOption("historypass"));

    // The nodes as the daemon orders them, best first.
    CtlRun nodes = Ctl("nodes");
    EXPECT_EQ(0, nodes.exitCode) << nodes.err;
    std::vector<std::vector<std::string>> rows = TableRows(nodes.out);
    std::string list = Rpc("GetNodeList").text;
    std::vector<std::string> names;
    const std::string key = "\"servername\": \"";
    for (size_t at = list.find(key); at != std::string::npos; at = list.find(key, at + 1)) {
        size_t from = at + key.size();
        names.push_back(list.substr(from, list.find('"', from) - from));
    }
    ASSERT_FALSE(names.empty()) << list;
    ASSERT_EQ(names.size() + 1, rows.size()) << nodes.out;
    EXPECT_EQ((std::vector<std::string>{"#", "NODE", "NAME", "PING", "(ms)"}), rows[0]);
    for (size_t i = 0; i < names.size(); i++) {
        ASSERT_EQ(4u, rows[i + 1].size()) << nodes.out;
        EXPECT_EQ(std::to_string(i + 1), rows[i + 1][0]);
        EXPECT_EQ(names[i], rows[i + 1][2]);
    }
    const std::string best_id = rows[1][1];

    // Start waits for the outcome and shows the states on the way.
    CtlRun start = Ctl("start auto");
    EXPECT_EQ(0, start.exitCode) << start.out << start.err;
    std::vector<std::string> progress = Lines(start.out);
    ASSERT_GE(progress.size(), 3u) << start.out;
    EXPECT_NE(std::string::npos, progress[1].find(" ACCING")) << start.out;
    EXPECT_NE(std::string::npos, progress.back().find(" ACC_OK")) << start.out;
    EXPECT_EQ("ACC_OK", UserinfoOption("currState"));
    EXPECT_EQ("0", UserinfoOption("mode"));
    EXPECT_EQ("0", UserinfoOption("node"));
    EXPECT_EQ(names[0], UserinfoOption("nodename"));
    EXPECT_EQ("1", UserinfoOption("reconn"));

    CtlRun status = Ctl("status");
    EXPECT_EQ(0, status.exitCode) << status.err;
    std::vector<std::vector<std::string>> fields = TableRows(status.out);
    ASSERT_GE(fields.size(), 2u) << status.out;
    EXPECT_EQ((std::vector<std::string>{"State:", "ACC_OK"}), fields[0]);
    EXPECT_EQ((std::vector<std::string>{"Acceleration:", "accelerating"}), fields[1]);
    EXPECT_EQ(std::string::npos, status.out.find(pass)) << "the password is not shown";
    Reply raw{Ctl("--json status").out, 0};
    EXPECT_EQ("ACC_OK", raw.Status()) << raw.text;
    EXPECT_EQ(pass, raw.Get("result.uPass")) << "the raw reply, as it is";

    CtlRun stop = Ctl("stop");
    EXPECT_EQ(0, stop.exitCode) << stop.err;
    EXPECT_EQ("LOGIN_OK", UserinfoOption("currState"));
    CtlRun again = Ctl("stop");
    EXPECT_EQ(2, again.exitCode) << "refused";
    EXPECT_NE(std::string::npos, again.err.find("(code 34)")) << again.err;
    EXPECT_EQ("", again.out);
    CtlRun logout = Ctl("logout");
    EXPECT_EQ(0, logout.exitCode) << logout.err;
    EXPECT_EQ("INIT", UserinfoOption("currState"));

    // Accelerated again, then the daemon killed: the restart restores ACC_OK from the record alone.
    ASSERT_EQ(0, Ctl("login demo", password).exitCode);
    CtlRun openvpn = Ctl("start openvpn " + best_id);
    ASSERT_EQ(0, openvpn.exitCode) << openvpn.out << openvpn.err;
    ASSERT_EQ("ACC_OK", UserinfoOption("currState"));
    EXPECT_EQ("1", UserinfoOption("mode"));
    EXPECT_EQ(best_id, UserinfoOption("node"));
    std::string recorded = InRouterOut("cat /etc/config/userinfo");
    // The cloud sees the account's tunnel in use: it is this router's own, still up.
    SetCloudOnlines(1);
    int restored = KeyLogCount("[Restore]: acc success");
    ASSERT_EQ(0, Sim("daemon kill"));
    CtlRun down = Ctl("status");
    EXPECT_EQ(3, down.exitCode);
    EXPECT_EQ("zunaroctl: zunarod is not running\n", down.err);
    ASSERT_EQ(0, Sim("daemon start"));
    ASSERT_TRUE(WaitForKeyLog("[Restore]: acc success", restored + 1, 30000)) << KeyLog();
    CtlRun back = Ctl("status");
    EXPECT_EQ(0, back.exitCode) << back.err;
    ASSERT_FALSE(TableRows(back.out).empty());
    EXPECT_EQ((std::vector<std::string>{"State:", "ACC_OK"}), TableRows(back.out)[0]) << back.out;
    EXPECT_TRUE(LinkExists("tun0"));
    EXPECT_EQ(recorded, InRouterOut("cat /etc/config/userinfo")) << "the daemon never writes it";
}

} // namespace
} // namespace e2e
