// The real zunarod against the mock cloud service: its peak memory (VmHWM) over a Login whose
// node list is 25.9 MB and one whose game list holds 100,000 routes, each against a Login with
// ordinary lists; and the time a Login takes while the primary server hangs beyond curl's
// time-out, against a Login with every server up. Needs root: it builds its own namespaces.
// An optional argument names another zunarod to measure (an older build, say).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include "cloud/mock_cloud.h"
#include "harness/daemon.h"
#include "harness/sandbox.h"

namespace {

const char kAccount[] = R"("accounts": {"alice": {"password": "secret", "type": 100, "pay_state": 1}})";
const char kNodes[] = R"("nodes": [{"id": 1, "serverip": "127.0.1.1", "servername": "far", "level": 5},
                                   {"id": 2, "serverip": "127.0.1.2", "servername": "best", "level": 0}])";
const char kGames[] = R"("games": [{"gid": 757, "routes": ["203.0.113.0:255.255.255.0"]}])";

std::string Scenario(const std::string &nodes, const std::string &games, const std::string &servers = "{}")
{
    return std::string("{") + kAccount + ",\n" + nodes + ",\n" + games + ",\n\"servers\": " + servers + "}";
}

// A node list of about 25.9 MB: many servers, of which the daemon keeps ten.
std::string HugeNodes()
{
    std::string xml = "<servers>";
    for (int i = 1; xml.size() < 25900000; i++)
        xml += "<server><id>" + std::to_string(i) + "</id><serverip>127.0.1." + std::to_string(i % 200 + 1) +
               "</serverip><servername>node-" + std::to_string(i) + "</servername><level>1</level></server>";
    return "\"nodes_xml\": \"" + xml + "</servers>\"";
}

std::string ManyRoutes(int n)
{
    std::string games = "\"games\": [{\"gid\": 757, \"routes\": [";
    for (int i = 0; i < n; i++)
        games += std::string(i ? "," : "") + "\"10." + std::to_string(i / 65536 % 256) + "." +
                 std::to_string(i / 256 % 256) + "." + std::to_string(i % 256) + ":255.255.255.255\"";
    return games + "]}]";
}

bool Setup()
{
    return ZND_TestSh("ip link set lo up && mkdir -p /tmp/bin /etc/zunaro /etc/iproute2 /etc/config") == 0 &&
           ZND_TestWriteFile("/etc/zunaro/gameList.conf", R"({"code":0,"version":"v1","gamelist":[{"gid":757,"sroute":["10.0.0.0:255.0.0.0"]}]})") &&
           ZND_TestWriteFile("/etc/zunaro/smartRoute.conf", R"({"code":0,"version":"v1","rules":[{"gid":757,"servers":[{"mrange":["10.20.0.0:255.255.0.0"]}]}]})") &&
           ZND_TestWriteFile("/etc/iproute2/rt_tables", "255\tlocal\n254\tmain\n253\tdefault\n252\tlogin\n"
                                                        "251\ttraffic\n0\tunspec\n") &&
           ZND_TestWriteFile("/etc/config/userinfo", "config userinfo '1'\n\toption historyname 'alice'\n"
                                                     "\toption historypass 'secret'\n\toption mode '1'\n"
                                                     "\toption node '2'\n\toption nodename 'best'\n"
                                                     "\toption reconn '0'\n\toption currState 'INIT'\n") &&
           ZND_TestWriteFile("/etc/config/network", "config interface 'lan'\n\toption ipaddr '127.0.0.1'\n"
                                                    "\toption netmask '255.0.0.0'\n") &&
           ZND_TestWriteFile("/tmp/bin/ping", "#!/bin/sh\nexit 0\n", 0755) &&
           ZND_TestSh("ln -sf \"$(command -v busybox)\" /tmp/bin/ifconfig") == 0 && MockCloudPrepareNetwork();
}

// The WAN, after the mock cloud has bound its listeners: with a default route its look-up of its
// own addresses would wait for a resolver that never answers.
bool SetupWan()
{
    return ZND_TestSh("ip link add eth1 type veth peer name eth1peer && ip link set eth1 address 02:00:5e:10:20:30 && "
                      "ip addr add 192.0.2.2/24 dev eth1 && ip link set eth1peer up && ip link set eth1 up && "
                      "ip route add default via 192.0.2.1") == 0;
}

long StatusKb(pid_t pid, const std::string &key)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, key.size() + 1, key + ":") == 0)
            return strtol(line.c_str() + key.size() + 1, nullptr, 10);
    return -1;
}

std::string Ctl(const std::string &method, const std::string &params)
{
    return ZND_TestShOut(std::string(ZND_TEST_ZUNAROCTL) + " call zunaro rpc '{\"method\":\"" + method +
                         "\",\"params\":[" + params + "],\"id\":1}' 2>/dev/null");
}

struct Run {
    bool ok = false;
    double seconds = 0;
    long peak_kb = 0, after_kb = 0;
    std::string reply;
};

// One daemon, one Login; the daemon is stopped afterwards.
Run Login(const std::string &zunarod, MockCloud *cloud, const std::string &scenario)
{
    Run r;
    cloud->SetScenario(scenario);
    DaemonProcess daemon(zunarod);
    daemon.PrependPath("/tmp/bin");
    bool serving = daemon.Start() && daemon.WaitForKeyLog("init success", 10000);
    for (int i = 0; serving && i < 100 && Ctl("GetStatus", "").find("\"status\"") == std::string::npos; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!serving || Ctl("GetStatus", "").find("\"status\"") == std::string::npos) {
        fprintf(stderr, "the daemon did not start:\n%s\n", daemon.Log().c_str());
        return r;
    }
    auto t0 = std::chrono::steady_clock::now();
    r.reply = Ctl("Login", "\"alice\",\"secret\"");
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    r.peak_kb = StatusKb(daemon.pid(), "VmHWM");
    r.after_kb = StatusKb(daemon.pid(), "VmRSS");
    r.ok = r.peak_kb > 0;
    daemon.Stop(15);
    return r;
}

const char *Outcome(const Run &r)
{
    return r.reply.find("LOGIN_OK") != std::string::npos ? "LOGIN_OK" : "refused";
}

} // namespace

int main(int argc, char **argv)
{
    std::string zunarod = argc > 1 ? argv[1] : ZND_TEST_ZUNAROD;
    std::string why;
    if (ZND_TestEnterSandbox(&why) != 0) {
        fprintf(stderr, "cloud_reply_bench: needs its own namespaces: %s\n", why.c_str());
        return 77;
    }
    if (!Setup()) {
        fprintf(stderr, "cloud_reply_bench: cannot set up the namespace\n");
        return 1;
    }
    MockCloud cloud;
    if (!cloud.Start({MockCloud::PrimaryAddr(), MockCloud::SecondaryAddr(), MockCloud::FallbackAddr()}) ||
        !SetupWan()) {
        fprintf(stderr, "cloud_reply_bench: the mock cloud did not start\n");
        return 1;
    }
    printf("zunarod %s\n", zunarod.c_str());
    Run ref = Login(zunarod, &cloud, Scenario(kNodes, kGames));
    if (!ref.ok)
        return 1;
    printf("%-44s peak %7.1f MB, after %6.1f MB, %s\n", "Login, 2 nodes and 1 route (reference):", ref.peak_kb / 1024.0,
           ref.after_kb / 1024.0, Outcome(ref));
    struct {
        const char *name;
        std::string scenario;
    } cases[] = {
        {"Login, node list of 25.9 MB:", Scenario(HugeNodes(), kGames)},
        {"Login, game list of 100,000 routes:", Scenario(kNodes, ManyRoutes(100000))},
    };
    for (auto &c : cases) {
        Run r = Login(zunarod, &cloud, c.scenario);
        if (!r.ok)
            return 1;
        printf("%-44s peak %7.1f MB, after %6.1f MB, %s; peak ratio to reference %.2f\n", c.name, r.peak_kb / 1024.0,
               r.after_kb / 1024.0, Outcome(r), (double)r.peak_kb / ref.peak_kb);
    }

    Run up = Login(zunarod, &cloud, Scenario(kNodes, kGames));
    Run slow = Login(zunarod, &cloud, Scenario(kNodes, kGames, R"({"127.0.0.2": {"mode": "slow", "delay": 13}})"));
    if (!up.ok || !slow.ok)
        return 1;
    printf("%-44s %6.2f s, %s\n", "Login, every server up (reference):", up.seconds, Outcome(up));
    printf("%-44s %6.2f s, %s; ratio to reference %.2f\n", "Login, primary hangs (curl gives up at 10 s):",
           slow.seconds, Outcome(slow), slow.seconds / up.seconds);
    return 0;
}
