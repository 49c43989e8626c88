// The daemon in the simulated router on ubusd, driven with the real ubus tool.
// ubusd going away in the middle of an accelerated session, the real uci tool and the daemon
// reading each other's commits, three writers of the same packages at once, and full file systems.
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>
#include "harness/sandbox.h"
#include "router_session.h"

namespace e2e {
namespace {

bool Has(const std::string &text, const std::string &what)
{
    return text.find(what) != std::string::npos;
}

TEST_F(RouterSession, UbusdRestartedInTheMiddleOfASessionLosesNothing)
{
    ASSERT_NO_FATAL_FAILURE(LoginAndAccelerate("1"));
    const std::string pid = ZND_TestReadFile(kState + "/run/daemon.pid");
    const Reply before = Rpc("GetStatus");
    const std::vector<std::string> login = Routes(252), traffic = Routes(251);
    const size_t services = ServicesLog().size();
    const std::string keylog = KeyLog();

    ASSERT_EQ(0, Sim("ubusd kill"));
    EXPECT_NE(0, Rpc("GetStatus").exitCode) << "nobody answers while ubusd is away";
    ASSERT_EQ(0, Sim("ubusd start"));
    // The daemon is back on the bus within 2 s of ubusd's start, and answers.
    EXPECT_EQ(0, Sim("ubus -t 2 wait_for zunaro")) << DaemonLog();
    Reply after = Rpc("GetStatus");
    ASSERT_EQ(0, after.exitCode) << after.text;

    // Same process, same session, same tunnel and routes; nothing was dialed or logged anew.
    EXPECT_EQ(pid, ZND_TestReadFile(kState + "/run/daemon.pid"));
    EXPECT_EQ(before.text, after.text);
    EXPECT_EQ("ACC_OK", after.Status());
    EXPECT_TRUE(LinkExists("tun0"));
    EXPECT_EQ(login, Routes(252));
    EXPECT_EQ(traffic, Routes(251));
    EXPECT_EQ(services, ServicesLog().size());
    EXPECT_EQ(keylog, KeyLog());
    EXPECT_TRUE(Has(DaemonLog(), "[ZND_ERROR]  ubus connection lost, reconnecting"));
    EXPECT_TRUE(Has(DaemonLog(), "[ZND_INFO]  ubus reconnected, objects added again"));

    // And the session goes on over the new connection.
    EXPECT_EQ("LOGIN_OK", Rpc("AccStop").Status());
    EXPECT_FALSE(LinkExists("tun0"));
    EXPECT_TRUE(Routes(251).empty());
}

TEST_F(RouterSession, UciToolAndDaemonReadEachOthersCommits)
{
    const std::string discover = ZND_SIM_DIR "/router lan /usr/bin/python3 " + kState + "/lib/lanclient.py discover";
    // What the uci tool commits is what the daemon tells the LAN; what it only stages is not.
    ASSERT_EQ(0, InRouter("uci set wireless.wifi.ssid='Cafe \"Zunaro\"' && uci commit wireless"));
    ASSERT_EQ(0, InRouter("uci set network.wan.macaddr='02:5a:4e:00:00:99'"));
    std::string found = ZND_TestShOut(discover + " 2>&1");
    EXPECT_TRUE(Has(found, "\"ssid\": \"Cafe \\\"Zunaro\\\"\", \"mac\": \"02:5a:4e:00:00:02\"")) << found;
    ASSERT_EQ(0, InRouter("uci commit network"));
    found = ZND_TestShOut(discover + " 2>&1");
    EXPECT_TRUE(Has(found, "\"mac\": \"02:5a:4e:00:00:99\"")) << found;

    // What the daemon commits for the tunnel reads right with uci get.
    ASSERT_NO_FATAL_FAILURE(LoginAndAccelerate("1"));
    std::string remote = InRouterOut("uci get openvpn.zunaro.remote");
    EXPECT_TRUE(remote == "203.0.113.10 1194\n" || remote == "203.0.113.11 1194\n" || remote == "203.0.113.12 1194\n")
        << remote;
    EXPECT_EQ("tun\n", InRouterOut("uci get openvpn.zunaro.dev"));
    EXPECT_EQ("02:5a:4e:00:00:99\n", InRouterOut("uci get network.wan.macaddr")) << "the rest is untouched";
    EXPECT_EQ("", InRouterOut("uci changes")) << "nothing left staged";
}

// Three writers of the same packages at once: the daemon (network.vpn at each AccStart), zunaroctl
// (userinfo after each start and stop) and the uci tool (options of its own in both packages).
// What zunaroctl or the daemon reported as done reads back right after it; every commit the tool
// reported is there at the end.
TEST_F(RouterSession, ThreeWritersLoseNothingAndUndoNothing)
{
    // A cycle makes 5 sets of the daemon and 6 of zunaroctl; ZUNARO_WRITER_CYCLES=200 for 1,000 each.
    const char *env = getenv("ZUNARO_WRITER_CYCLES");
    const int cycles = env && *env ? atoi(env) : 40;
    ASSERT_EQ("LOGIN_OK", Rpc("Login", {"demo", "zunaro-demo"}).Status());
    const std::string run = "/run/zunaro-sim/run/", zunaroctl = ZND_BUILD_DIR "/tools/zunaroctl/zunaroctl";
    ASSERT_EQ(0, InRouterBackground("i=0; while [ $i -lt 500 ]; do i=$((i+1)); "
                "{ uci set userinfo.1.t$i=$i && uci commit userinfo && echo userinfo.1.t$i; } || true; "
                "{ uci set network.lan.t$i=$i && uci commit network && echo network.lan.t$i; } || true; "
                "done >" + run + "tool.done.part; : >" + run + "tool.ended"));
    ASSERT_EQ(0, InRouterBackground("i=0; while [ $i -lt " + std::to_string(cycles) + " ]; do i=$((i+1)); "
                "if [ $((i % 2)) = 1 ]; then m=l2tp n=1; else m=pptp n=2; fi; "
                + zunaroctl + " start $m $n --no-reconnect --wait 0 >/dev/null 2>>" + run + "ctl.err; "
                "echo \"start $? $m $n $(uci -q get userinfo.1.mode) $(uci -q get userinfo.1.node) "
                "$(uci -q get userinfo.1.reconn) $(uci -q get userinfo.1.currState) $(uci -q get network.vpn.proto) "
                "$(uci -q get network.vpn.server)\"; "
                + zunaroctl + " stop >/dev/null 2>>" + run + "ctl.err; echo \"stop $? $(uci -q get userinfo.1.currState)\"; "
                "done >" + run + "cycles; : >" + run + "cycles.ended"));
    ASSERT_TRUE(WaitFor(300000, [&] {
        return ZND_TestFileExists(kState + "/run/tool.ended") && ZND_TestFileExists(kState + "/run/cycles.ended");
    }));

    const std::map<std::string, std::string> modes = {{"l2tp", "3"}, {"pptp", "4"}};
    const std::map<std::string, std::string> servers = {{"1", "203.0.113.10"}, {"2", "203.0.113.11"}};
    int told = 0, not_recorded = 0;
    for (const auto &line : Lines(ZND_TestReadFile(kState + "/run/cycles"))) {
        std::istringstream in(line);
        std::string what, rc, mode, node, uci_mode, uci_node, reconn, state, proto, server;
        in >> what >> rc;
        if (rc == "7") {   // reported as not recorded: allowed, and counted
            not_recorded++;
            continue;
        }
        ASSERT_EQ("0", rc) << line;
        told++;
        if (what == "stop") {
            in >> state;
            EXPECT_EQ("LOGIN_OK", state) << line;
            continue;
        }
        in >> mode >> node >> uci_mode >> uci_node >> reconn >> state >> proto >> server;
        EXPECT_EQ(modes.at(mode), uci_mode) << line;
        EXPECT_EQ(node, uci_node) << line;
        EXPECT_EQ("0", reconn) << line;
        EXPECT_EQ("ACCING", state) << line;
        EXPECT_EQ(mode, proto) << line;
        EXPECT_EQ(servers.at(node), server) << line;
    }
    EXPECT_EQ(2 * cycles, told + not_recorded);
    if (not_recorded) {
        EXPECT_NE(std::string::npos, ZND_TestReadFile(kState + "/run/ctl.err").find("could not record"));
    }

    const std::vector<std::string> committed = Lines(ZND_TestReadFile(kState + "/run/tool.done.part"));
    EXPECT_EQ(1000u, committed.size()) << "the uci tool's commits all went through";
    const std::string userinfo = InRouterOut("uci show userinfo"), network = InRouterOut("uci show network");
    int undone = 0;
    for (const auto &option : committed) {
        const std::string value = option.substr(option.rfind(".t") + 2);
        const std::string &text = option.rfind("userinfo.", 0) == 0 ? userinfo : network;
        bool kept = text.find(option + "='" + value + "'\n") != std::string::npos;
        EXPECT_TRUE(kept) << option << " undone";
        undone += !kept;
    }
    EXPECT_EQ(0, undone) << "commits of the uci tool undone";
    printf("three writers: %d cycles, %d zunaroctl results read back, %d reported as not recorded, "
           "%zu uci tool commits, %d undone\n", cycles, told, not_recorded, committed.size(), undone);
}

// A full /tmp (where /var lives on the router) does not keep what the user set from being
// recorded: nothing of a set is staged there. A full configuration file system is reported.
TEST_F(RouterSession, FullFileSystemsNeitherHideNorLoseWhatTheUserSet)
{
    ASSERT_EQ("LOGIN_OK", Rpc("Login", {"demo", "zunaro-demo"}).Status());
    CtlRun start = Ctl("start openvpn 1 --wait 60");
    ASSERT_EQ(0, start.exitCode) << start.out << start.err;
    InRouter("dd if=/dev/zero of=/tmp/filler bs=64k 2>/dev/null");
    ASSERT_EQ("0", InRouterOut("df -P /tmp | awk 'NR == 2 { print $4 }' | tr -d '\n'"));

    // Switching the node: the tunnel goes where the daemon says it does, or the start is refused.
    start = Ctl("start openvpn 2 --wait 60");
    const std::string remote = InRouterOut("uci -q get openvpn.zunaro.remote");
    const Reply result = Rpc("GetAccResult");
    if (start.exitCode == 0) {
        EXPECT_EQ("2", result.Get("result.node.nid")) << result.text;
        EXPECT_EQ("203.0.113.11 1194\n", remote);
        EXPECT_EQ("2", UserinfoOption("node"));
    } else {
        EXPECT_NE("2", result.Get("result.node.nid")) << start.err << result.text;
    }

    CtlRun stop = Ctl("stop");
    EXPECT_EQ(0, stop.exitCode) << stop.err;
    EXPECT_EQ("LOGIN_OK", UserinfoOption("currState"));
    InRouter("rm -f /tmp/filler");

    // The configuration's own file system full: the logout is done, and said not to be recorded.
    ASSERT_EQ(0, InRouter("mkdir -p /run/cfg && cp -a /etc/config/. /run/cfg/ && "
                          "mount -t tmpfs -o size=64k zunaro-test-cfg /etc/config && cp -a /run/cfg/. /etc/config/ && "
                          "{ dd if=/dev/zero of=/etc/config/.filler bs=4k 2>/dev/null; true; }"));
    CtlRun out = Ctl("logout");
    EXPECT_EQ(7, out.exitCode) << out.out << out.err;
    EXPECT_NE(std::string::npos, out.err.find("could not record the state INIT")) << out.err;
    EXPECT_EQ("LOGIN_OK", UserinfoOption("currState"));
    EXPECT_EQ("INIT", Rpc("GetStatus").Status());

    // With space again, the logout the user repeats is refused (already out) but records the
    // state the refusal names; the restore after a kill keeps it.
    InRouter("rm -f /etc/config/.filler");
    out = Ctl("logout");
    EXPECT_EQ(2, out.exitCode) << out.err;
    EXPECT_EQ("INIT", UserinfoOption("currState"));
    ASSERT_EQ(0, Sim("daemon kill"));
    ASSERT_TRUE(WaitFor(5000, [&] { return Sim("daemon status") != 0; }));
    ASSERT_EQ(0, Sim("daemon start"));
    EXPECT_TRUE(WaitForState("INIT", 10000)) << Rpc("GetStatus").text;
    InRouter("umount /etc/config");
}

} // namespace
} // namespace e2e
