// The simulated router (sim/router) without the daemon: building and tearing down the world, the
// WAN and its fault, the tunnel services driven the way the daemon drives them, the LAN, the LED
// files and the cloud host names.
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include "core/build_config.h"
#include "harness/sandbox.h"

namespace {

const std::string kRouter = ZND_SIM_DIR "/router";
const std::string kState = "/run/zunaro-sim";
const std::string kServicesLog = kState + "/log/services.log";
const std::string kUpLog = "/tmp/sim-up.log";
const char *const kResolvers[] = {"1.2.4.8", "114.114.114.114", "114.114.115.115", "8.8.4.4", "8.8.8.8"};

int Sim(const std::string &args)
{
    return ZND_TestSh(kRouter + " " + args + " >>/tmp/sim-cmd.log 2>&1");
}

std::string SimOut(const std::string &args)
{
    return ZND_TestShOut(kRouter + " " + args + " 2>>/tmp/sim-cmd.log");
}

// A shell command inside the router (its namespaces, its PATH).
int InRouter(const std::string &cmd)
{
    return Sim("exec /bin/sh -c " + ZND_TestQuote(cmd));
}

std::string InRouterOut(const std::string &cmd)
{
    return SimOut("exec /bin/sh -c " + ZND_TestQuote(cmd));
}

int OnLanHost(const std::string &cmd)
{
    return Sim("lan /bin/sh -c " + ZND_TestQuote(cmd));
}

bool WaitFor(int timeout_ms, const std::function<bool()> &pred)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

bool LinkExists(const std::string &dev)
{
    return InRouter("ip link show dev " + dev + " >/dev/null 2>&1") == 0;
}

bool PingFromRouter(const std::string &addr, const std::string &dev = "")
{
    // The daemon's probe command.
    std::string cmd = "ping -q -c 1 -W 1 " + addr + (dev.empty() ? "" : " -I " + dev) + " > /dev/null 2>&1";
    return InRouter(cmd) == 0;
}

bool ServicesLogHas(const std::string &text)
{
    return ZND_TestReadFile(kServicesLog).find(text) != std::string::npos;
}

// Lines of a log that contain all the given texts.
int LogCount(const std::string &path, const std::vector<std::string> &texts)
{
    std::string log = ZND_TestReadFile(path);
    int n = 0;
    size_t pos = 0;
    while (pos < log.size()) {
        size_t end = log.find('\n', pos);
        std::string line = log.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        bool all = true;
        for (const auto &t : texts)
            all = all && line.find(t) != std::string::npos;
        n += all && !line.empty();
        pos = end == std::string::npos ? log.size() : end + 1;
    }
    return n;
}

int ServicesLogCount(const std::vector<std::string> &texts)
{
    return LogCount(kServicesLog, texts);
}

// The package's interface event script, run as netifd runs it (hotplug.log has one line a run).
bool HotplugRan(const std::vector<std::string> &texts, int count)
{
    std::vector<std::string> all = texts;
    all.push_back("\"script\": \"/etc/hotplug.d/iface/90-zunaro\", \"status\": 0");
    return WaitFor(10000, [&] { return LogCount(kState + "/log/hotplug.log", all) == count; });
}

// The dial times of a kind's delayed dials, as logged.
std::vector<double> DialTimes(const std::string &kind)
{
    std::vector<double> out;
    std::istringstream in(ZND_TestReadFile(kServicesLog));
    const std::string key = "\"delay\": ";
    for (std::string line; std::getline(in, line);) {
        size_t at = line.find(key);
        if (line.find("\"kind\": \"" + kind + "\"") != std::string::npos && at != std::string::npos)
            out.push_back(atof(line.c_str() + at + key.size()));
    }
    return out;
}

// Namespace inode numbers of the sim (while it is up).
std::set<unsigned long> SimNamespaces()
{
    std::set<unsigned long> out;
    for (const char *f : {"inet.net", "lan.net", "router.net", "router.mnt"}) {
        struct stat st;
        if (stat((kState + "/ns/" + f).c_str(), &st) == 0)
            out.insert((unsigned long)st.st_ino);
    }
    return out;
}

// Processes whose network or mount namespace is one of the given ones.
std::vector<int> ProcessesIn(const std::set<unsigned long> &inodes)
{
    std::vector<int> pids;
    DIR *d = opendir("/proc");
    if (!d)
        return pids;
    while (struct dirent *e = readdir(d)) {
        int pid = atoi(e->d_name);
        if (pid <= 0)
            continue;
        for (const char *ns : {"net", "mnt"}) {
            struct stat st;
            std::string path = "/proc/" + std::string(e->d_name) + "/ns/" + ns;
            if (stat(path.c_str(), &st) == 0 && inodes.count((unsigned long)st.st_ino)) {
                pids.push_back(pid);
                break;
            }
        }
    }
    closedir(d);
    return pids;
}

// A process as pid and start time: once the sim's namespaces are gone their inode numbers may
// be given to other namespaces of the machine, so survivors are looked for by identity.
struct ProcessId {
    int pid;
    std::string start;
};

std::string StartTime(int pid)
{
    std::string stat = ZND_TestReadFile("/proc/" + std::to_string(pid) + "/stat");
    size_t pos = stat.rfind(')');
    if (pos == std::string::npos)
        return "";
    // Fields after the command: state is field 3, the start time field 22.
    std::istringstream in(stat.substr(pos + 2));
    std::string field;
    for (int i = 3; i <= 22 && in >> field; i++) {
    }
    return field;
}

std::vector<ProcessId> Identify(const std::vector<int> &pids)
{
    std::vector<ProcessId> out;
    for (int pid : pids)
        out.push_back({pid, StartTime(pid)});
    return out;
}

// Those of the processes that still run (zombies count as gone), as "pid command" lines.
std::string Survivors(const std::vector<ProcessId> &procs)
{
    std::string out;
    for (const auto &p : procs) {
        std::string dir = "/proc/" + std::to_string(p.pid);
        std::string cmd = ZND_TestReadFile(dir + "/cmdline");
        if (cmd.empty() || StartTime(p.pid) != p.start)
            continue;
        for (char &c : cmd)
            c = c ? c : ' ';
        out += std::to_string(p.pid) + " " + cmd + "\n";
    }
    return out;
}

// A mount point at the sim's state directory or below it, matched by whole path components: the
// state directory of another simulated router (/run/zunaro-sim-2, say) is not the sim's.
bool SimMountsLeft()
{
    std::istringstream in(ZND_TestReadFile("/proc/self/mountinfo"));
    for (std::string line; std::getline(in, line);) {
        // Fields: mount id, parent id, major:minor, root, mount point, ...
        std::istringstream fields(line);
        std::string id, parent, dev, root, point;
        if (!(fields >> id >> parent >> dev >> root >> point))
            continue;
        if (point == kState || point.compare(0, kState.size() + 1, kState + "/") == 0)
            return true;
    }
    return false;
}

void WriteOpenvpnConfig(const std::string &remote, const std::string &dev)
{
    std::string text = "\nconfig openvpn 'zunaro'\n\toption enabled '1'\n\toption client '1'\n\toption dev '" + dev +
                       "'\n\toption proto 'udp'\n\toption auth_user_pass '/etc/openvpn/userpass.txt'\n"
                       "\toption remote '" +
                       remote + "'\n";
    ASSERT_EQ(0, InRouter("printf '%s' " + ZND_TestQuote(text) + " >/etc/config/openvpn"));
}

// The credentials file the way the daemon writes it.
void WriteUserpass(const std::string &user, const std::string &pass)
{
    ASSERT_EQ(0, InRouter("echo '" + user + "\n" + pass + "' >/etc/openvpn/userpass.txt"));
}

// Section vpn of package network as the daemon leaves it (the section comes last in the file).
void WriteVpnSection(const std::string &proto, const std::string &user, const std::string &pass,
                     const std::string &server)
{
    std::string section = "config interface 'vpn'\n\toption proto '" + proto + "'\n\toption username '" + user +
                          "'\n\toption password '" + pass + "'\n\toption server '" + server +
                          "'\n\toption auto '0'\n";
    ASSERT_EQ(0, InRouter("sed -i \"/^config interface 'vpn'/,\\$d\" /etc/config/network && printf '%s' " +
                          ZND_TestQuote(section) + " >>/etc/config/network"));
}

class SimRouter : public testing::Test {
protected:
    void SetUp() override
    {
        setenv("ZUNARO_BUILD", ZND_BUILD_DIR, 1);
        ASSERT_EQ(0, ZND_TestSh(kRouter + " up " + UpOptions() + " >" + kUpLog + " 2>&1"))
            << ZND_TestReadFile(kUpLog);
    }
    void TearDown() override
    {
        EXPECT_EQ(0, Sim("down"));
        EXPECT_FALSE(ZND_TestFileExists(kState));
    }
    virtual std::string UpOptions() { return "--no-cloud"; }

    // Starts a service in the background the way the daemon does and waits until its dial has
    // come up (a router's dial takes up to 5 s) and is logged.
    bool StartAndWait(const std::string &start_cmd, const std::string &dev)
    {
        const std::vector<std::string> up = {"\"device\": \"" + dev + "\"", "\"result\": \"up\""};
        int before = ServicesLogCount(up);
        if (InRouter(start_cmd + " >/dev/null 2>&1 &") != 0)
            return false;
        return WaitFor(15000, [&] { return ServicesLogCount(up) > before && LinkExists(dev); });
    }
};

TEST_F(SimRouter, UpBuildsTheWorldAndDownRemovesItAll)
{
    std::set<unsigned long> ns = SimNamespaces();
    ASSERT_EQ(4u, ns.size());
    EXPECT_EQ(0, Sim("status"));
    EXPECT_EQ(0, Sim("ubusd status")) << "the router's ubusd runs from the start";
    // A process left running in each namespace must not survive down.
    ASSERT_EQ(0, Sim("exec /bin/sh -c 'sleep 300 >/dev/null 2>&1 &'"));
    ASSERT_EQ(0, Sim("inet /bin/sh -c 'sleep 300 >/dev/null 2>&1 &'"));
    ASSERT_EQ(0, Sim("lan /bin/sh -c 'sleep 300 >/dev/null 2>&1 &'"));
    std::vector<ProcessId> running = Identify(ProcessesIn(ns));
    EXPECT_GE(running.size(), 3u);

    ASSERT_EQ(0, Sim("down"));
    EXPECT_EQ("", Survivors(running));
    EXPECT_FALSE(SimMountsLeft());
    EXPECT_FALSE(ZND_TestFileExists(kState));
    EXPECT_EQ(0, Sim("down")) << "down twice";
    EXPECT_EQ(3, Sim("status"));
    EXPECT_NE(0, Sim("exec true"));

    // The sandbox's own network saw nothing: only its loopback.
    EXPECT_EQ("lo\n", ZND_TestShOut("ip -o link show | awk -F': ' '{print $2}'"));
    ASSERT_EQ(0, ZND_TestSh(kRouter + " up --no-cloud >" + kUpLog + " 2>&1")) << ZND_TestReadFile(kUpLog);
    EXPECT_NE(0, Sim("up --no-cloud")) << "up twice";
}

TEST_F(SimRouter, DownCleansUpAfterTheSimsProcessesWereKilled)
{
    std::set<unsigned long> ns = SimNamespaces();
    ASSERT_EQ(0, Sim("exec /bin/sh -c 'sleep 300 >/dev/null 2>&1 &'"));
    for (int pid : ProcessesIn(ns))
        kill(pid, SIGKILL);
    // A crash half-way: the marker of a complete start is gone too.
    unlink((kState + "/up").c_str());
    EXPECT_NE(0, Sim("exec true"));
    std::vector<ProcessId> left = Identify(ProcessesIn(ns));
    ASSERT_EQ(0, Sim("down"));
    EXPECT_EQ("", Survivors(left));
    EXPECT_FALSE(SimMountsLeft());
    EXPECT_FALSE(ZND_TestFileExists(kState));
}

TEST_F(SimRouter, ResolversAnswerThroughTheWanUntilItIsCut)
{
    for (const char *addr : kResolvers)
        EXPECT_TRUE(PingFromRouter(addr)) << addr;
    EXPECT_EQ("10.1.2.3\n", InRouterOut("ip -4 -o addr show dev eth0 | awk '{print $4}' | cut -d/ -f1"));
    EXPECT_NE(std::string::npos, InRouterOut("ip route show default").find("via 10.1.2.1 dev eth0"));
    for (const char *node : {"203.0.113.10", "203.0.113.11", "203.0.113.12", "192.0.2.80"})
        EXPECT_TRUE(PingFromRouter(node)) << node;

    ASSERT_EQ(0, Sim("fault wan down"));
    EXPECT_FALSE(PingFromRouter("1.2.4.8"));
    EXPECT_FALSE(PingFromRouter("8.8.8.8"));
    EXPECT_NE(std::string::npos, SimOut("fault").find("wan down"));
    EXPECT_TRUE(HotplugRan({"{\"action\": \"ifdown\", \"interface\": \"wan\", \"script\""}, 1));
    ASSERT_EQ(0, Sim("fault wan up"));
    EXPECT_TRUE(PingFromRouter("1.2.4.8"));
    EXPECT_TRUE(PingFromRouter("8.8.8.8"));
    EXPECT_TRUE(HotplugRan({"{\"action\": \"ifup\", \"interface\": \"wan\", \"device\": \"eth0\""}, 1));
}

TEST_F(SimRouter, OpenvpnStartMakesTun0AndStopRemovesIt)
{
    WriteOpenvpnConfig("203.0.113.10 1194", "tun");
    WriteUserpass("demo", "zunaro-demo");
    EXPECT_EQ("demo\nzunaro-demo\n", InRouterOut("cat /etc/openvpn/userpass.txt"));
    ASSERT_TRUE(StartAndWait("/etc/init.d/openvpn start", "tun0"));
    EXPECT_TRUE(PingFromRouter("8.8.8.8", "tun0"));
    // As long as on a router.
    std::vector<double> times = DialTimes("openvpn");
    ASSERT_EQ(1u, times.size());
    EXPECT_TRUE(times[0] >= 1 && times[0] <= 3) << times[0];
    EXPECT_TRUE(PingFromRouter("114.114.114.114", "tun0"));
    EXPECT_NE(std::string::npos, InRouterOut("ip -4 addr show dev tun0").find("peer"));
    EXPECT_EQ(1, ServicesLogCount({"\"service\": \"openvpn\"", "\"remote\": \"203.0.113.10 1194\"",
                                   "\"dev\": \"tun\"", "\"user\": \"demo\"", "\"password\": \"zunaro-demo\"",
                                   "\"result\": \"up\""}));

    // A second start with the same configuration leaves the running tunnel alone, as the
    // router's init script does; a changed one dials again.
    std::string ifindex = InRouterOut("cat /sys/class/net/tun0/ifindex");
    EXPECT_EQ(0, InRouter("/etc/init.d/openvpn start >/dev/null 2>&1"));
    EXPECT_EQ(ifindex, InRouterOut("cat /sys/class/net/tun0/ifindex"));
    EXPECT_EQ(1, ServicesLogCount({"\"service\": \"openvpn\"", "\"result\": \"running\""}));
    // A changed configuration dials again; a start while that dial is in progress leaves it alone.
    WriteOpenvpnConfig("203.0.113.11 1194", "tun");
    EXPECT_EQ(0, InRouter("/etc/init.d/openvpn start >/dev/null 2>&1 && /etc/init.d/openvpn start >/dev/null 2>&1"));
    EXPECT_TRUE(WaitFor(15000, [&] { return ServicesLogCount({"\"service\": \"openvpn\"", "\"result\": \"up\""}) == 2; }));
    EXPECT_EQ(2, ServicesLogCount({"\"service\": \"openvpn\"", "\"result\": \"running\""}));
    EXPECT_EQ(0, ServicesLogCount({"\"service\": \"openvpn\"", "\"result\": \"cancelled\""}));
    EXPECT_TRUE(LinkExists("tun0"));

    // The tunnel rides on the WAN.
    ASSERT_EQ(0, Sim("fault wan down"));
    EXPECT_FALSE(PingFromRouter("8.8.8.8", "tun0"));
    ASSERT_EQ(0, Sim("fault wan up"));
    EXPECT_TRUE(WaitFor(2000, [] { return PingFromRouter("8.8.8.8", "tun0"); }));

    EXPECT_EQ(0, InRouter("/etc/init.d/openvpn stop >/dev/null 2>&1"));
    EXPECT_FALSE(LinkExists("tun0"));
    EXPECT_FALSE(PingFromRouter("8.8.8.8", "tun0"));
    EXPECT_TRUE(ServicesLogHas("\"result\": \"stopped\""));

    // The device name follows openvpn.zunaro.dev.
    WriteOpenvpnConfig("203.0.113.11 1194", "tunx");
    ASSERT_TRUE(StartAndWait("/etc/init.d/openvpn start", "tunx0"));
    EXPECT_TRUE(PingFromRouter("8.8.4.4", "tunx0"));
    EXPECT_EQ(0, InRouter("/etc/init.d/openvpn stop >/dev/null 2>&1"));
    EXPECT_FALSE(LinkExists("tunx0"));
}

TEST_F(SimRouter, IpsecStartMakesIpsec0AndStopRemovesIt)
{
    // The daemon's commands.
    ASSERT_EQ(0, InRouter("sed -i 's/eap_identity=.*$/eap_identity=demo/' /etc/ipsec.conf"));
    ASSERT_EQ(0, InRouter("sed -i 's/right=.*$/right=203.0.113.11/' /etc/ipsec.conf"));
    ASSERT_EQ(0, InRouter("echo 'demo : EAP \"zunaro-demo\"' >/etc/ipsec.secrets"));
    std::string conf = InRouterOut("cat /etc/ipsec.conf");
    EXPECT_NE(std::string::npos, conf.find("\teap_identity=demo\n"));
    EXPECT_NE(std::string::npos, conf.find("\tright=203.0.113.11\n"));
    EXPECT_NE(std::string::npos, conf.find("\trightid=%any\n")) << "only the right= line changes";

    ASSERT_TRUE(StartAndWait("/etc/init.d/ipsec start", "ipsec0"));
    EXPECT_TRUE(PingFromRouter("1.2.4.8", "ipsec0"));
    EXPECT_EQ(1, ServicesLogCount({"\"service\": \"ipsec\"", "\"eap_identity\": \"demo\"", "\"right\": \"203.0.113.11\"",
                                   "\"password\": \"zunaro-demo\"", "\"result\": \"up\""}));
    EXPECT_EQ(0, InRouter("/etc/init.d/ipsec stop >/dev/null 2>&1"));
    EXPECT_FALSE(LinkExists("ipsec0"));
}

TEST_F(SimRouter, IfupVpnDialsL2tpOrPptpAndIfdownHangsUp)
{
    WriteVpnSection("pptp", "demo", "zunaro-demo", "203.0.113.12");
    ASSERT_TRUE(StartAndWait("ifup -w vpn", "pptp-vpn"));
    EXPECT_TRUE(PingFromRouter("114.114.115.115", "pptp-vpn"));
    // As long as on a router.
    std::vector<double> times = DialTimes("pptp");
    ASSERT_EQ(1u, times.size());
    EXPECT_TRUE(times[0] >= 2 && times[0] <= 5) << times[0];
    EXPECT_TRUE(HotplugRan({"\"action\": \"ifup\", \"interface\": \"vpn\", \"device\": \"pptp-vpn\""}, 1));
    EXPECT_EQ(1, ServicesLogCount({"\"kind\": \"pptp\"", "\"server\": \"203.0.113.12\"",
                                   "\"username\": \"demo\"", "\"auto\": \"0\"", "\"result\": \"up\""}));

    // L2TP takes over the same interface.
    WriteVpnSection("l2tp", "demo", "zunaro-demo", "203.0.113.10");
    ASSERT_TRUE(StartAndWait("ifup -w vpn", "l2tp-vpn"));
    EXPECT_FALSE(LinkExists("pptp-vpn"));
    EXPECT_TRUE(PingFromRouter("8.8.8.8", "l2tp-vpn"));

    EXPECT_EQ(0, InRouter("ifdown vpn >/dev/null 2>&1"));
    EXPECT_FALSE(LinkExists("l2tp-vpn"));
    EXPECT_FALSE(PingFromRouter("8.8.8.8", "l2tp-vpn"));
    EXPECT_EQ(1, ServicesLogCount({"\"action\": \"ifdown\"", "\"device\": \"l2tp-vpn\"", "\"result\": \"stopped\""}));
    // netifd names no device at ifdown: each hang-up, the one L2TP made of PPTP's too.
    EXPECT_TRUE(HotplugRan({"{\"action\": \"ifdown\", \"interface\": \"vpn\", \"script\""}, 2));
}

TEST_F(SimRouter, TunnelFaultsNeverAfterAndDrop)
{
    const std::string l2tp = "\"kind\": \"l2tp\"";
    WriteVpnSection("l2tp", "demo", "zunaro-demo", "203.0.113.10");
    ASSERT_EQ(0, Sim("fault tunnel l2tp never"));
    EXPECT_EQ(0, InRouter("ifup -w vpn >/dev/null 2>&1"));
    EXPECT_EQ(1, ServicesLogCount({l2tp, "\"result\": \"never\""}));
    // Other kinds are not affected, and the l2tp dial has still not come up by the time they have.
    WriteVpnSection("pptp", "demo", "zunaro-demo", "203.0.113.10");
    EXPECT_TRUE(StartAndWait("ifup -w vpn", "pptp-vpn"));
    EXPECT_FALSE(LinkExists("l2tp-vpn"));

    // "after 1": the dial returns at once and the device follows a second later, however long
    // the dial itself took.
    WriteVpnSection("l2tp", "demo", "zunaro-demo", "203.0.113.10");
    ASSERT_EQ(0, Sim("fault tunnel l2tp ok"));
    ASSERT_EQ(0, Sim("fault tunnel l2tp after 1"));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(0, InRouter("ifup -w vpn >/dev/null 2>&1"));
    EXPECT_EQ(1, ServicesLogCount({l2tp, "\"action\": \"ifup\"", "\"result\": \"delayed\""}));
    EXPECT_FALSE(LinkExists("pptp-vpn")) << "the new dial replaced the old tunnel";
    ASSERT_TRUE(WaitFor(10000, [&] {
        return ServicesLogCount({l2tp, "\"action\": \"delayed-up\"", "\"result\": \"up\""}) == 1;
    }));
    EXPECT_TRUE(LinkExists("l2tp-vpn"));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_TRUE(PingFromRouter("8.8.8.8", "l2tp-vpn"));

    ASSERT_EQ(0, Sim("fault tunnel l2tp drop"));
    EXPECT_FALSE(LinkExists("l2tp-vpn"));
    EXPECT_EQ(1, ServicesLogCount({l2tp, "\"result\": \"dropped\""}));
    EXPECT_NE(0, Sim("fault tunnel l2tp drop")) << "nothing left to drop";

    // A tunnel that comes up and goes away by itself: up at the dial, dropped after it.
    ASSERT_EQ(0, Sim("fault tunnel l2tp ok"));
    ASSERT_EQ(0, Sim("fault tunnel l2tp after 0"));
    ASSERT_EQ(0, Sim("fault tunnel l2tp drop-after 1"));
    int up = ServicesLogCount({l2tp, "\"action\": \"ifup\"", "\"result\": \"up\""});
    EXPECT_EQ(0, InRouter("ifup -w vpn >/dev/null 2>&1"));
    EXPECT_EQ(up + 1, ServicesLogCount({l2tp, "\"action\": \"ifup\"", "\"result\": \"up\""}));
    EXPECT_TRUE(WaitFor(10000, [&] { return ServicesLogCount({l2tp, "\"result\": \"dropped\""}) == 2; }));
    EXPECT_FALSE(LinkExists("l2tp-vpn"));

    // Another ifup (netifd takes the interface down and up) and a stop each cancel a pending
    // dial: when its delay has passed, no device came. The delay is long enough for both to come
    // first even when each command takes a second on a busy machine.
    ASSERT_EQ(0, Sim("fault tunnel l2tp ok"));
    ASSERT_EQ(0, Sim("fault tunnel l2tp after 5"));
    EXPECT_EQ(0, InRouter("ifup -w vpn >/dev/null 2>&1"));
    EXPECT_EQ(0, InRouter("ifup -w vpn >/dev/null 2>&1"));
    EXPECT_EQ(0, InRouter("ifdown vpn >/dev/null 2>&1"));
    EXPECT_TRUE(WaitFor(20000, [&] { return ServicesLogCount({l2tp, "\"result\": \"cancelled\""}) == 2; }));
    EXPECT_FALSE(LinkExists("l2tp-vpn"));
}

TEST_F(SimRouter, DialsFailForUnknownNodesWrongCredentialsAndWithoutWan)
{
    WriteUserpass("demo", "zunaro-demo");
    WriteOpenvpnConfig("198.51.100.1 1194", "tun");
    EXPECT_EQ(0, InRouter("/etc/init.d/openvpn start >/dev/null 2>&1"));
    EXPECT_EQ(1, ServicesLogCount({"\"node\": \"198.51.100.1\"", "\"result\": \"no-node\""}));

    WriteOpenvpnConfig("203.0.113.10 1194", "tun");
    WriteUserpass("demo", "wrong");
    EXPECT_EQ(0, InRouter("/etc/init.d/openvpn start >/dev/null 2>&1"));
    EXPECT_EQ(1, ServicesLogCount({"\"password\": \"wrong\"", "\"result\": \"bad-credentials\""}));

    WriteUserpass("demo", "zunaro-demo");
    ASSERT_EQ(0, Sim("fault host 203.0.113.10 down"));
    EXPECT_FALSE(PingFromRouter("203.0.113.10"));
    EXPECT_EQ(0, InRouter("/etc/init.d/openvpn start >/dev/null 2>&1"));
    EXPECT_EQ(1, ServicesLogCount({"\"node\": \"203.0.113.10\"", "\"result\": \"no-node\""}));
    ASSERT_EQ(0, Sim("fault host 203.0.113.10 up"));

    ASSERT_EQ(0, Sim("fault wan down"));
    EXPECT_EQ(0, InRouter("/etc/init.d/openvpn start >/dev/null 2>&1"));
    EXPECT_EQ(1, ServicesLogCount({"\"result\": \"no-wan\""}));
    ASSERT_EQ(0, Sim("fault wan up"));
    EXPECT_FALSE(LinkExists("tun0"));

    EXPECT_TRUE(StartAndWait("/etc/init.d/openvpn start", "tun0"));
}

TEST_F(SimRouter, LanHostReachesTheRouterAndBroadcastsArrive)
{
    EXPECT_EQ(0, OnLanHost("ping -q -c 1 -W 1 192.168.1.1 >/dev/null 2>&1"));
    // The device identity the daemon reads.
    EXPECT_EQ("025A4E000001", InRouterOut("ifconfig eth1| grep HWaddr| awk '{print $5}'| tr -d ':'| tr -d '\\n'"));

    const std::string tool = "/usr/bin/python3 " + kState + "/lib/lanclient.py";
    // Router to LAN, the way the daemon sends its event notifications.
    std::string got = ZND_TestShOut(kRouter + " lan " + tool + " listen 7168 --timeout 5 --ready " + kState +
                                    "/run/l1 2>&1 & " + "for i in $(seq 50); do [ -e " + kState +
                                    "/run/l1 ] && break; sleep 0.05; done; " + kRouter + " exec " + tool +
                                    " send 192.168.1.255 7168 '{\"code\": 1}'; wait");
    EXPECT_EQ("192.168.1.1:", got.substr(0, 12)) << got;
    EXPECT_NE(std::string::npos, got.find("{\"code\": 1}")) << got;

    // LAN host to the LAN broadcast address, heard inside the router.
    got = ZND_TestShOut(kRouter + " exec " + tool + " listen 7168 --timeout 5 --ready " + kState + "/run/l2 2>&1 & " +
                        "for i in $(seq 50); do [ -e " + kState + "/run/l2 ] && break; sleep 0.05; done; " + kRouter +
                        " lan " + tool + " send 192.168.1.255 7168 hello; wait");
    EXPECT_EQ("192.168.1.23:", got.substr(0, 13)) << got;
    EXPECT_NE(std::string::npos, got.find(" hello")) << got;
}

TEST_F(SimRouter, RouterFilesLedsAndCloudNames)
{
    // Configuration in the UCI text format.
    std::string userinfo = InRouterOut("cat /etc/config/userinfo");
    EXPECT_NE(std::string::npos, userinfo.find("config userinfo '1'\n"));
    for (const char *opt : {"historyname", "historypass", "mode", "node", "nodename", "reconn", "currState"})
        EXPECT_NE(std::string::npos, userinfo.find(std::string("\toption ") + opt + " '")) << opt;
    std::string network = InRouterOut("cat /etc/config/network");
    EXPECT_NE(std::string::npos, network.find("\toption ifname 'eth0'\n"));
    EXPECT_NE(std::string::npos, network.find("\toption ipaddr '192.168.1.1'\n"));
    EXPECT_NE(std::string::npos, network.find("config interface 'vpn'\n"));
    EXPECT_NE(std::string::npos, InRouterOut("cat /etc/config/wireless").find("config wifi-iface 'wifi'"));
    EXPECT_NE(std::string::npos, InRouterOut("cat /etc/config/openvpn").find("config openvpn 'zunaro'"));
    EXPECT_EQ(0, InRouter("grep -q '^[[:space:]]*eap_identity=' /etc/ipsec.conf && grep -q '^[[:space:]]*right=' /etc/ipsec.conf"));
    EXPECT_EQ(0, InRouter("test -d /etc/openvpn"));
    // Route lists with game 757.
    EXPECT_EQ("ok\n", InRouterOut("/usr/bin/python3 -c \"import json; g=json.load(open('/etc/zunaro/gameList.conf')); "
                                  "r=json.load(open('/etc/zunaro/smartRoute.conf')); "
                                  "n=[len(x['sroute']) for x in g['gamelist'] if x['gid']==757]; "
                                  "m=[sum(len(s.get('mrange', [])) for s in x['servers']) for x in r['rules'] if x['gid']==757]; "
                                  "print('ok' if g['code']==0 and r['code']==0 and n[0]>=200 and m[0]>=200 else 'bad')\""));
    // Routing table names.
    EXPECT_EQ(0, InRouter("ip route add 198.18.0.0/24 dev eth0 table traffic && ip route show table 251 | grep -q 198.18.0.0"));
    EXPECT_EQ(0, InRouter("ip route add 198.19.0.0/24 via 10.1.2.1 table login && ip route show table 252 | grep -q 198.19.0.0"));

    // The router's /etc, /run and /tmp are its own.
    ASSERT_EQ(0, InRouter("echo x >/etc/zunaro-sim-probe && echo y >/tmp/probe && echo z >/var/run/probe"));
    EXPECT_FALSE(ZND_TestFileExists("/etc/zunaro-sim-probe"));
    EXPECT_FALSE(ZND_TestFileExists("/tmp/probe"));
    EXPECT_EQ("y\n", ZND_TestReadFile(kState + "/root/tmp/probe"));
    EXPECT_EQ("z\n", ZND_TestReadFile(kState + "/root/run/probe"));

    // The simulated commands come first in PATH.
    EXPECT_EQ(kState + "/bin/ifup\n" + kState + "/bin/ifdown\n" + kState + "/bin/ifconfig\n" + kState + "/bin/ping\n",
              InRouterOut("for c in ifup ifdown ifconfig ping; do command -v $c; done"));

    // LEDs: plain files, written the daemon's way; the LED service puts them back.
    for (const char *led : {"state_b", "state_g"}) {
        std::string f = std::string("/sys/class/leds/") + led + "/brightness";
        EXPECT_EQ(0, InRouter("[ -e " + f + " ] && echo 1 > " + f)) << led;
        EXPECT_EQ("1\n", InRouterOut("cat " + f)) << led;
    }
    EXPECT_EQ(0, InRouter("test -e /sys/class/net/eth1/address")) << "sysfs of the router's network";
    EXPECT_EQ(0, InRouter("/etc/init.d/led reload >/dev/null"));
    EXPECT_EQ("1\n0\n", InRouterOut("cat /sys/class/leds/state_b/brightness /sys/class/leds/state_g/brightness"));

    // The cloud servers' host names as this build has them.
    for (const char *name : {ZND_CLOUD_PRIMARY, ZND_CLOUD_SECONDARY}) {
        std::string line = InRouterOut(std::string("getent hosts ") + name);
        ASSERT_FALSE(line.empty()) << name;
        std::string addr = line.substr(0, line.find_first_of(" \t"));
        EXPECT_TRUE(PingFromRouter(addr)) << name << " " << addr;
    }
    EXPECT_TRUE(PingFromRouter(ZND_CLOUD_FALLBACK));
}

TEST_F(SimRouter, DaemonRunsInsideTheRouterWithItsLog)
{
    // A stand-in for zunarod that shows where it runs; kept under the sandbox's /tmp, which the
    // router does not see, so the sim has to run a copy. It never gets onto ubusd, so each start
    // waits out the sim's few seconds for the daemon's object.
    ASSERT_TRUE(ZND_TestWriteFile("/tmp/fake-zunarod",
                                  "#!/usr/bin/python3\n"
                                  "import os, sys, syslog, time\n"
                                  "open('/var/run/fake-zunarod.ran', 'w').close()\n"
                                  "syslog.syslog(syslog.LOG_ERR, 'fake zunarod logs')\n"
                                  "print('fake zunarod net=%s path=%s' % (os.readlink('/proc/self/ns/net'), "
                                  "os.environ['PATH']), file=sys.stderr, flush=True)\n"
                                  "time.sleep(600)\n",
                                  0755));
    setenv("ZUNARO_SIM_ZUNAROD", "/tmp/fake-zunarod", 1);
    ASSERT_EQ(0, Sim("daemon start"));
    EXPECT_EQ(0, Sim("daemon status"));
    EXPECT_NE(0, Sim("daemon start")) << "one daemon at a time";
    EXPECT_TRUE(ZND_TestFileExists(kState + "/root/run/fake-zunarod.ran")) << "the router's /var/run";

    struct stat st;
    ASSERT_EQ(0, stat((kState + "/ns/router.net").c_str(), &st));
    std::string log = SimOut("daemon log");
    EXPECT_NE(std::string::npos, log.find("net=net:[" + std::to_string(st.st_ino) + "]")) << log;
    EXPECT_NE(std::string::npos, log.find("path=" + kState + "/bin:")) << log;
    // The router's system log, beside its output: the line once, as the router's syslog got it.
    size_t logged = log.find(": fake zunarod logs\n");
    ASSERT_NE(std::string::npos, logged) << log;
    EXPECT_EQ(logged, log.rfind("fake zunarod logs") - 2) << log;
    EXPECT_EQ(0, log.compare(log.rfind('\n', logged) + 1, 4, "<11>")) << "user.err: " << log;
    EXPECT_EQ(log, ZND_TestReadFile(kState + "/root/tmp/zunarod.log"));

    ASSERT_EQ(0, Sim("daemon stop"));
    EXPECT_EQ(3, Sim("daemon status"));
    ASSERT_EQ(0, Sim("daemon start"));
    ASSERT_EQ(0, Sim("daemon kill"));
    EXPECT_EQ(3, Sim("daemon status"));

    setenv("ZUNARO_SIM_ZUNAROD", "/nonexistent/zunarod", 1);
    EXPECT_NE(0, Sim("daemon start"));
    unsetenv("ZUNARO_SIM_ZUNAROD");
}

// The mock cloud answers on the cloud addresses when its script is in the tree.
class SimRouterWithCloud : public SimRouter {
protected:
    std::string UpOptions() override { return ""; }
    void SetUp() override
    {
        const char *env = getenv("ZUNARO_SIM_MOCKCLOUD");
        if (!ZND_TestFileExists(ZND_SIM_DIR "/mockcloud/mockcloud.py") && !(env && ZND_TestFileExists(env)))
            GTEST_SKIP() << "no mock cloud script";
        SimRouter::SetUp();
    }
    void TearDown() override
    {
        if (!IsSkipped())
            SimRouter::TearDown();
    }
};

TEST_F(SimRouterWithCloud, LoginAnswersOnEveryCloudServer)
{
    for (const char *server : {ZND_CLOUD_PRIMARY, ZND_CLOUD_SECONDARY, ZND_CLOUD_FALLBACK}) {
        std::string reply = InRouterOut(std::string("curl -s -m 10 --retry 3 --retry-max-time 3 -u 'demo:zunaro-demo' "
                                                    "-d 'token=3f7a1c9e5b2d4086a1e3c5f7092b4d6e&gid=757' '") +
                                        server + "/api/softlogin' -o '/var/run/tmpServerReply' && cat /var/run/tmpServerReply");
        EXPECT_EQ("Y|", reply.substr(0, 2)) << server << ": " << reply;
    }
    std::string nodes = InRouterOut("curl -s -m 10 -u 'demo:zunaro-demo' -d 'token=3f7a1c9e5b2d4086a1e3c5f7092b4d6e&gid=757' "
                                    "'" ZND_CLOUD_PRIMARY "/api/cfgcontrol'");
    EXPECT_NE(std::string::npos, nodes.find("<serverip>203.0.113.10</serverip>")) << nodes;
    EXPECT_NE(std::string::npos, ZND_TestReadFile(kState + "/log/cloud.log").find("/api/softlogin"));

    ASSERT_EQ(0, Sim("fault host " ZND_CLOUD_PRIMARY " down"));
    EXPECT_NE(0, InRouter("curl -s -m 2 -d x '" ZND_CLOUD_PRIMARY "/api/softlogin' >/dev/null"));
    ASSERT_EQ(0, Sim("fault host " ZND_CLOUD_PRIMARY " up"));
    EXPECT_EQ(0, InRouter("curl -s -m 2 -d x '" ZND_CLOUD_PRIMARY "/api/softlogin' >/dev/null"));
}

} // namespace
