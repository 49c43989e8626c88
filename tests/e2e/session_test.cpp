// A user's session with the real daemon in the simulated router: login, acceleration with its
// routes and rules, supervision of the tunnel, LAN discovery, stop and logout; what each state
// refuses; the LAN told when acceleration ends.
#include <arpa/inet.h>
#include <atomic>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <sched.h>
#include <set>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include "core/build_config.h"
#include "harness/sandbox.h"
#include "route/route_sync.h"
#include "route/route_test_util.h"
#include "router_session.h"

namespace e2e {
namespace {

int Count(const std::string &text, const std::string &what)
{
    int n = 0;
    for (size_t pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        n++;
    return n;
}

// Every route of the table goes the given way.
void ExpectRoutesVia(const std::vector<std::string> &routes, size_t count, const std::string &via)
{
    EXPECT_EQ(count, routes.size());
    for (const auto &r : routes)
        EXPECT_NE(std::string::npos, r.find(via)) << r;
}

// The messages of the key log (the text after the time stamp), in order.
std::vector<std::string> KeyLogMessages(const std::string &log)
{
    std::vector<std::string> out;
    for (const auto &line : Lines(log)) {
        size_t pos = line.find("]: ");
        out.push_back(pos == std::string::npos ? line : line.substr(pos + 3));
    }
    return out;
}

// The reply to an event the current state refuses, as zunaroctl prints it.
std::string Refusal(const std::string &state, const std::string &event, const std::string &accState)
{
    return "{\n"
           "\t\"error\": {\n"
           "\t\t\"code\": 34,\n"
           "\t\t\"message\": \"State machine can't deal this command\",\n"
           "\t\t\"data\": {\n"
           "\t\t\t\"msg\": \"State machine can't deal this command\",\n"
           "\t\t\t\"status\": \"" + state + "\",\n"
           "\t\t\t\"event\": \"" + event + "\",\n"
           "\t\t\t\"accState\": \"" + accState + "\",\n"
           "\t\t\t\"status\": \"" + state + "\"\n"
           "\t\t}\n"
           "\t},\n"
           "\t\"id\": 1\n"
           "}\n";
}

const char kEventStop[] = " { \"code\": 0, \"msg\": \"interrupt\", \"data\": null }";

struct NodeRow {
    int nid;
    long ping;
    std::string name;
};

// The node tables of a GetNodeList reply, in order (their keys are all empty, so read as text).
std::vector<NodeRow> NodeRows(const std::string &text)
{
    std::vector<NodeRow> rows;
    for (size_t pos = text.find("\"nid\": "); pos != std::string::npos; pos = text.find("\"nid\": ", pos + 1)) {
        NodeRow r;
        r.nid = atoi(text.c_str() + pos + 7);
        r.ping = atol(text.c_str() + text.find("\"ping\": ", pos) + 8);
        size_t name = text.find("\"servername\": \"", pos) + 15;
        r.name = text.substr(name, text.find('"', name) - name);
        rows.push_back(r);
    }
    return rows;
}

// Runs fn in a child process inside the router's network and mount namespaces; its exit status.
int InRouterProcess(const std::function<int()> &fn)
{
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int net = open((kState + "/ns/router.net").c_str(), O_RDONLY);
        int mnt = open((kState + "/ns/router.mnt").c_str(), O_RDONLY);
        if (net < 0 || mnt < 0 || setns(net, CLONE_NEWNET) != 0 || setns(mnt, CLONE_NEWNS) != 0 || chdir("/") != 0)
            _exit(100);
        _exit(fn());
    }
    int status = -1;
    if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

// The parent of a process, 0 when it is gone.
int ParentOf(int pid)
{
    std::string stat = ZND_TestReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t pos = stat.rfind(')');
    return pos == std::string::npos ? 0 : atoi(stat.c_str() + pos + 4);   // ") S PPID"
}

bool DescendsFrom(int pid, int ancestor)
{
    for (int p = pid; p > 1; p = ParentOf(p))
        if (p == ancestor)
            return true;
    return false;
}

// Reads the command line of every process of the machine over and over while it lives. A holder
// is a process whose command line contains the secret, other than this test's own (the request
// it sends through the bus tool); a login curl is one for "/api/softlogin", which shows that the
// watch covered the time of the request.
class CommandLineWatch {
public:
    explicit CommandLineWatch(const std::string &secret) : secret_(secret), thread_([this] { Run(); }) {}
    ~CommandLineWatch() { Stop(); }
    void Stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    const std::string &holders() const { return holders_; }
    bool sawLoginCurl() const { return saw_login_curl_; }

private:
    void Run()
    {
        while (!stop_) {
            DIR *dir = opendir("/proc");
            if (!dir)
                return;
            while (struct dirent *e = readdir(dir)) {
                int pid = atoi(e->d_name);
                if (pid <= 0)
                    continue;
                std::string cmd = ZND_TestReadFile("/proc/" + std::to_string(pid) + "/cmdline");
                for (char &c : cmd)
                    c = c ? c : ' ';
                if (cmd.rfind("curl ", 0) == 0 && cmd.find("/api/softlogin") != std::string::npos)
                    saw_login_curl_ = true;
                if (cmd.find(secret_) != std::string::npos && !DescendsFrom(pid, getpid()) &&
                    reported_.insert(pid).second)
                    holders_ += std::to_string(pid) + " " + cmd + "\n";
            }
            closedir(dir);
        }
    }
    std::string secret_;
    std::string holders_;
    std::set<int> reported_;
    bool saw_login_curl_ = false;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The Authorization headers of the login requests the mock cloud received, in order.
std::vector<std::string> LoginAuthorizations()
{
    std::vector<std::string> out;
    const std::string key = "\"authorization\": \"";
    for (const auto &line : Lines(ZND_TestReadFile(kState + "/log/cloud.log"))) {
        size_t at = line.find(key);
        if (line.find("\"path\": \"/api/softlogin\"") == std::string::npos || at == std::string::npos)
            continue;
        at += key.size();
        out.push_back(line.substr(at, line.find('"', at) - at));
    }
    return out;
}

TEST_F(RouterSession, TypicalUseStepByStep)
{
    // 1. Login: the cloud accepts the account; the nodes are fetched and pinged.
    Reply login = Rpc("Login", {"demo", "zunaro-demo"});
    EXPECT_EQ(0, login.exitCode);
    ASSERT_EQ("LOGIN_OK", login.Get("result.status")) << login.text;
    EXPECT_EQ("demo", login.Get("result.uName"));
    EXPECT_EQ("13", login.Get("result.uType")) << "accepted, type 100, paid";
    EXPECT_EQ("0", login.Get("result.uConflict"));
    EXPECT_EQ("2099-12-31_23:59:59", login.Get("result.uExpire"));
    EXPECT_EQ("10.1.2.3", login.Get("result.realIp"));
    EXPECT_TRUE(Routes(252).empty()) << "nothing is routed before acceleration";

    Reply nodes = Rpc("GetNodeList");
    EXPECT_EQ("LOGIN_OK", nodes.Get("result.status"));
    EXPECT_EQ(3, Count(nodes.text, "\"servername\""));
    for (const char *name : {"tokyo-1", "hongkong-1", "singapore-1"})
        EXPECT_NE(std::string::npos, nodes.text.find(std::string("\"servername\": \"") + name + "\"")) << name;

    // 2. AccStart: OpenVPN to node 2.
    Reply start = Rpc("AccStart", {"1", "2", "hongkong-1", "1"});
    ASSERT_EQ("ACCING", start.Get("result.status")) << start.text;

    // 3. The tunnel answers: routes, rules, ACC_OK.
    ASSERT_TRUE(WaitForState("ACC_OK", 30000)) << Rpc("GetStatus").text;
    std::vector<std::string> services = ServicesLog();
    ASSERT_FALSE(services.empty());
    EXPECT_NE(std::string::npos, services.back().find("\"remote\": \"203.0.113.11 1194\"")) << services.back();
    EXPECT_NE(std::string::npos, services.back().find("\"result\": \"up\"")) << services.back();
    ExpectRoutesVia(Routes(252), kLoginRoutes, "via 10.1.2.1 dev eth0");
    ExpectRoutesVia(Routes(251), kTrafficRoutes, "dev tun0");
    std::string rules = Rules();
    EXPECT_NE(std::string::npos, rules.find("99:\tfrom all lookup login")) << rules;
    EXPECT_NE(std::string::npos, rules.find("100:\tfrom all fwmark 0x1 lookup traffic")) << rules;
    EXPECT_NE(std::string::npos, InRouterOut("ip route get 198.18.0.10 mark 1").find("dev tun0 table traffic"));
    EXPECT_NE(std::string::npos, InRouterOut("ip route get 198.19.0.10").find("via 10.1.2.1 dev eth0 table login"));
    EXPECT_EQ("0\n1\n", InRouterOut(kLeds)) << "status LED: accelerating";

    Reply status = Rpc("GetStatus");
    EXPECT_EQ("1", status.Get("result.accState")) << status.text;
    EXPECT_EQ("1", status.Get("result.accMode"));
    EXPECT_EQ("", status.Get("result.accNodeName")) << "node fields only in automatic mode";
    Reply result = Rpc("GetAccResult");
    EXPECT_EQ("2", result.Get("result.node.nid")) << result.text;
    EXPECT_EQ("hongkong-1", result.Get("result.node.servername"));
    EXPECT_EQ("0", result.Get("result.loss"));
    EXPECT_EQ("1", result.Get("result.mode.id"));
    EXPECT_EQ("模式一", result.Get("result.mode.mode"));
    Reply accState = Rpc("GetAccState");
    EXPECT_NE(std::string::npos, accState.text.find("\t\t\"status\": \"5\",\n")) << accState.text;
    EXPECT_EQ("ACC_OK", accState.Get("result.status"));

    // 4. The tunnel is cut: supervision redials it and puts the routes back. The node answers at
    // once, and the one restart is given the time the start takes.
    ASSERT_EQ(0, Sim("fault tunnel openvpn after 0"));
    size_t dialed = ServicesLog().size();
    ASSERT_EQ(0, Sim("fault tunnel openvpn drop"));
    ASSERT_TRUE(WaitForKeyLog("reconn acc start", 1, 15000)) << KeyLog();
    ASSERT_TRUE(WaitForState("ACC_OK", 30000)) << Rpc("GetStatus").text;
    EXPECT_EQ(1, KeyLogCount("reconn acc start")) << KeyLog();
    std::vector<std::string> redials = ServicesLog();
    int starts = 0;
    for (size_t i = dialed; i < redials.size(); i++)
        starts += redials[i].find("\"action\": \"start\"") != std::string::npos;
    EXPECT_EQ(1, starts);
    EXPECT_TRUE(LinkExists("tun0"));
    ExpectRoutesVia(Routes(251), kTrafficRoutes, "dev tun0");
    EXPECT_EQ(kLoginRoutes, Routes(252).size());

    // 5. A LAN device asks where the router is.
    std::string found = ZND_TestShOut(ZND_SIM_DIR "/router lan /usr/bin/python3 " + kState +
                                      "/lib/lanclient.py discover 2>&1");
    EXPECT_EQ("192.168.1.1:7167 { \"code\": 6, \"msg\": \"" ZND_HOST_NAME " hostip\", \"data\": { \"host\": "
              "\"192.168.1.1\", \"flag\": 1, \"ssid\": \"zunaro-demo\", \"mac\": \"02:5a:4e:00:00:02\" } }\n",
              found);

    // 6. AccStop, then Logout.
    Reply stop = Rpc("AccStop");
    EXPECT_EQ("LOGIN_OK", stop.Get("result.status")) << stop.text;
    EXPECT_FALSE(LinkExists("tun0"));
    EXPECT_TRUE(Routes(252).empty());
    EXPECT_TRUE(Routes(251).empty());
    EXPECT_EQ("1\n0\n", InRouterOut(kLeds)) << "status LED back to the LED service's";
    Reply logout = Rpc("Logout");
    EXPECT_EQ("INIT", logout.Get("result.status")) << logout.text;

    std::vector<std::string> expected = {"init success", "login success", "acc start",  "acc success",
                                         "reconn acc start", "acc success", "acc stop", "logout"};
    std::vector<std::string> got = KeyLogMessages(KeyLog());
    size_t at = 0;
    for (const auto &msg : got)
        if (at < expected.size() && msg == expected[at])
            at++;
    EXPECT_EQ(expected.size(), at) << "key log out of order:\n" << KeyLog();
}

TEST_F(RouterSession, EachStateRefusesWhatItCannotDo)
{
    // INIT
    EXPECT_EQ(Refusal("INIT", "get acc node list", "0"), Rpc("GetNodeList").text);
    EXPECT_EQ("{\n\t\"error\": {\n\t\t\"code\": -32601,\n\t\t\"message\": \"Unknown error\",\n\t\t\"data\": {\n"
              "\t\t\t\"status\": \"INIT\"\n\t\t}\n\t},\n\t\"id\": 1\n}\n",
              Rpc("logout").text);

    // LOGIN_OK
    ASSERT_EQ("LOGIN_OK", Rpc("Login", {"demo", "zunaro-demo"}).Status());
    EXPECT_EQ(Refusal("LOGIN_OK", "acc restart", "0"), Rpc("AccRestart", {"1", "0", "", "1"}).text);
    EXPECT_EQ(Refusal("LOGIN_OK", "acc stop", "0"), Rpc("AccStop").text);

    // ACCING: the tunnel takes a few seconds to come up.
    ASSERT_EQ(0, Sim("fault tunnel openvpn after 4"));
    ASSERT_EQ("ACCING", Rpc("AccStart", {"1", "0", "", "1"}).Status());
    EXPECT_EQ(Refusal("ACCING", "get acc node list", "0"), Rpc("GetNodeList").text);
    EXPECT_EQ(Refusal("ACCING", "get acc state", "0"), Rpc("GetAccState").text);

    // ACC_OK
    ASSERT_TRUE(WaitForState("ACC_OK", 30000)) << Rpc("GetStatus").text;
    EXPECT_EQ(Refusal("ACC_OK", "login", "1"), Rpc("Login", {"demo", "zunaro-demo"}).text);
    EXPECT_EQ(Refusal("ACC_OK", "force offline", "1"), Rpc("ForceOffLine").text);
    // Refusals change nothing.
    EXPECT_EQ("1", Rpc("GetStatus").Get("result.accState"));
    EXPECT_EQ(kTrafficRoutes, Routes(251).size());
}

// The user changes their mind at once: nothing of the start may survive the stop. (OpenVPN is
// started two seconds after the request, in the background.)
TEST_F(RouterSession, AStopRightAfterTheStartLeavesNoTunnel)
{
    ASSERT_EQ("LOGIN_OK", Rpc("Login", {"demo", "zunaro-demo"}).Status());
    ASSERT_EQ("ACCING", Rpc("AccStart", {"1", "0", "", "1"}).Status());
    size_t services = ServicesLog().size();
    ASSERT_EQ("LOGIN_OK", Rpc("AccStop").Status());
    EXPECT_FALSE(WaitFor(4000, [&] { return LinkExists("tun0"); })) << "a tunnel came up after the stop";
    EXPECT_EQ("LOGIN_OK", Rpc("GetStatus").Status());
    std::vector<std::string> after = ServicesLog();
    for (size_t i = services; i < after.size(); i++)
        EXPECT_EQ(std::string::npos, after[i].find("\"action\": \"start\"")) << after[i];
}

TEST_F(RouterSession, LogoutWhileAcceleratingTellsTheLan)
{
    ASSERT_NO_FATAL_FAILURE(LoginAndAccelerate("1"));
    ListenOnLan(1, 10);
    EXPECT_EQ("INIT", Rpc("Logout").Status());
    std::string heard = Heard();
    EXPECT_EQ(0u, heard.find("192.168.1.1:")) << heard;
    EXPECT_NE(std::string::npos, heard.find(std::string(kEventStop) + "\n")) << heard;
    EXPECT_EQ(1u, Lines(heard).size()) << heard;
    EXPECT_FALSE(LinkExists("tun0"));
    EXPECT_TRUE(Routes(252).empty());
    EXPECT_TRUE(Routes(251).empty());

    // Without acceleration a logout has nothing to tell.
    ASSERT_EQ("LOGIN_OK", Rpc("Login", {"demo", "zunaro-demo"}).Status());
    ListenOnLan(1, 2);
    EXPECT_EQ("INIT", Rpc("Logout").Status());
    EXPECT_EQ("", Heard());
}

// A WAN without gateway, as PPPoE makes it ("default dev pppoe-wan"): the login routes go through
// the WAN device.
class PppoeRouterSession : public RouterSession {
protected:
    std::string UpOptions() override { return "--pppoe"; }
};

TEST_F(PppoeRouterSession, AcceleratesWithLoginRoutesThroughTheWanDevice)
{
    ASSERT_NE(std::string::npos, InRouterOut("ip route show default").find("default dev pppoe-wan"));
    ASSERT_NO_FATAL_FAILURE(LoginAndAccelerate("1"));
    ExpectRoutesVia(Routes(252), kLoginRoutes, "dev pppoe-wan scope link");
    ExpectRoutesVia(Routes(251), kTrafficRoutes, "dev tun0");
    EXPECT_NE(std::string::npos, InRouterOut("ip route get 198.19.0.10").find("dev pppoe-wan table login"));
    EXPECT_EQ("1", Rpc("GetStatus").Get("result.accState"));
    EXPECT_EQ("LOGIN_OK", Rpc("AccStop").Status());
    EXPECT_TRUE(Routes(252).empty());
}

// The login list comes again with an installed network written differently (an equivalent mask):
// the update must leave that network's route in place. No request of the bus runs the update
// while accelerated, so the daemon's own update runs here inside the router, against the tables
// that the running daemon installed.
TEST_F(RouterSession, LoginListRewrittenWithAnEquivalentMaskKeepsTheRoute)
{
    ASSERT_NO_FATAL_FAILURE(LoginAndAccelerate("1"));
    std::vector<std::string> before = Routes(252);
    std::string net;
    int len = 0;
    for (const auto &r : before) {
        size_t slash = r.find('/');
        if (slash != std::string::npos && (len = atoi(r.c_str() + slash + 1)) >= 1 && len <= 30) {
            net = r.substr(0, slash);
            break;
        }
    }
    ASSERT_FALSE(net.empty());
    uint32_t bits = 0xFFFFFFFFu << (32 - len);
    struct in_addr mask = {htonl(bits)}, rewritten = {htonl(bits | 1)};   // the same prefix length
    std::string mask_text = inet_ntoa(mask), rewritten_text = inet_ntoa(rewritten);

    int rc = InRouterProcess([&] {
        ScopedSet cur, next;
        cur.Add(net.c_str(), mask_text.c_str());
        next.Add(net.c_str(), rewritten_text.c_str());
        uint32_t added = ZND_AddNewLoginRouteToKernel(&next, &cur);
        uint32_t deleted = ZND_DelNotUsedLoginRouteFromKernel(&next, &cur);
        return added == 0 && deleted == 0 ? 0 : 1;
    });
    EXPECT_EQ(0, rc);
    EXPECT_EQ(before, Routes(252)) << net << "/" << len << " written " << rewritten_text;
}

// Pings go on past a node of the list that cannot be sent to; the nodes after it are measured and
// ranked by their times ahead of it.
TEST_F(RouterSession, NodesAfterOneWithoutAddressAreProbed)
{
    EditScenario("d['nodes'].insert(0, {'id': 9, 'serverip': 'node.example', 'servername': 'nowhere-9', "
                 "'level': 0, 'openvport': 1194, 'servermemo': '', 'openvpndev': 'tun', 'protocal': 1})");
    ASSERT_EQ("LOGIN_OK", Rpc("Login", {"demo", "zunaro-demo"}).Status());
    Reply list = Rpc("GetNodeList");
    std::vector<NodeRow> rows = NodeRows(list.text);
    ASSERT_EQ(4u, rows.size()) << list.text;
    // Level 0 first, fastest first; the node that never answered last of its level.
    EXPECT_GT(rows[0].ping, 0) << rows[0].name;
    EXPECT_GT(rows[1].ping, 0) << rows[1].name;
    EXPECT_LE(rows[0].ping, rows[1].ping);
    EXPECT_EQ(std::set<std::string>({"tokyo-1", "hongkong-1"}), std::set<std::string>({rows[0].name, rows[1].name}));
    EXPECT_EQ("nowhere-9", rows[2].name);
    EXPECT_EQ(0, rows[2].ping);
    EXPECT_EQ("singapore-1", rows[3].name);
    EXPECT_GT(rows[3].ping, 0);
}

// Debug output names the steps but never the password: not at login, not for any kind of tunnel,
// not when the account is read from UCI again after a restart. No command line on the machine
// shows it either while the login waits for a slow cloud, and the cloud receives the credentials
// exactly as curl sends them from its own command line.
TEST_F(RouterSession, DebugLinesKeepThePasswordOut)
{
    // Of this run alone: another run on the machine may be at the same step.
    const std::string pass = "pw-seen-nowhere-" + std::to_string(getpid());
    EditScenario("d['accounts']['demo']['password'] = '" + pass +
                 "'; d['default'] = {'mode': 'normal', 'paths': {'/api/softlogin': 'slow'}, 'delay': 2}");
    ASSERT_EQ(0, InRouter("sed -i \"s/option historypass .*/option historypass '" + pass + "'/\" /etc/config/userinfo"));
    ASSERT_EQ("INIT", Rpc("DebugOn").Status());
    CommandLineWatch watch(pass);
    ASSERT_EQ("LOGIN_OK", Rpc("Login", {"demo", pass}).Status());
    watch.Stop();
    EXPECT_TRUE(watch.sawLoginCurl());
    EXPECT_EQ("", watch.holders());
    // The same request with the credentials on curl's command line, the way it was once made.
    ASSERT_EQ(0, InRouter("curl -s -m 10 -u 'demo:" + pass + "' -d 'token=3f7a1c9e5b2d4086a1e3c5f7092b4d6e&gid=757' '"
                          ZND_CLOUD_PRIMARY "/api/softlogin' -o /dev/null"));
    std::vector<std::string> auths = LoginAuthorizations();
    ASSERT_EQ(2u, auths.size());
    EXPECT_EQ(auths[1], auths[0]);
    for (const char *mode : {"1", "2", "3"}) {
        ASSERT_EQ("ACCING", Rpc("AccStart", {mode, "0", "", "1"}).Status()) << mode;
        ASSERT_TRUE(WaitForState("ACC_OK", 45000)) << mode << Rpc("GetStatus").text;
        ASSERT_EQ("LOGIN_OK", Rpc("AccStop").Status()) << mode;
    }
    // The restart reads the account once the WAN answers: by then debug output is on again.
    ASSERT_EQ(0, Sim("fault wan down"));
    ASSERT_EQ(0, Sim("daemon stop"));
    ASSERT_EQ(0, Sim("daemon start"));
    ASSERT_EQ("INIT", Rpc("DebugOn").Status());
    ASSERT_EQ(0, Sim("fault wan up"));
    ASSERT_TRUE(WaitFor(30000, [&] { return DaemonLog().find("uname = demo, upass = ***.") != std::string::npos; }))
        << DaemonLog();

    std::string log = DaemonLog();
    EXPECT_NE(std::string::npos, log.find("get the value : {userinfo.1.historypass}:[***]."));
    EXPECT_NE(std::string::npos, log.find("-u 'demo:***'"));
    EXPECT_EQ(std::string::npos, log.find(pass));
    EXPECT_EQ(std::string::npos, KeyLog().find(pass));
}

} // namespace
} // namespace e2e
