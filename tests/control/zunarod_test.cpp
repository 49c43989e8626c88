// The real zunarod in the sandbox, driven through the real zunaroctl: every method of the method
// table against the mock cloud service, the kernel tables it fills, the discovery socket, the
// debug switch and the end on SIGTERM.
#include <arpa/inet.h>
#include <chrono>
#include <algorithm>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <json-c/json.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include "cloud/mock_cloud.h"
#include "core/build_config.h"
#include "harness/daemon.h"
#include "harness/sandbox.h"
#include "platform/bus.h"
#include "platform/bus_client.h"

namespace {

const char kScenario[] = R"({
  "accounts": {"alice": {"password": "secret", "type": 100, "pay_state": 1, "expire": "2027-01-31_23:59:59",
                         "server_time": "2026-12-08_10:00:00", "public_ip": "203.0.113.7", "onlines": 0,
                         "force_offline_code": 0}},
  "nodes": [
    {"id": 1, "serverip": "127.0.1.1", "servername": "far", "level": 5, "openvport": 1194, "openvpndev": "tun"},
    {"id": 2, "serverip": "127.0.1.2", "servername": "best", "level": 0, "openvport": 1195, "openvpndev": "tun"}
  ],
  "games": [{"gid": 757, "routes": ["203.0.113.0:255.255.255.0", "198.51.100.0:255.255.255.0"]}]
})";

const char kAccount[] = "\"uName\":\"alice\",\"uPass\":\"secret\",\"uType\":\"13\",\"uConflict\":\"0\","
                        "\"uExpire\":\"2027-01-31_23:59:59\",\"uServerTime\":\"2026-12-08_10:00:00\"";

// The printed reply without the layout whitespace (outside strings), with every "ping" value
// shown as N: the nodes are measured on loopback.
std::string compact(const std::string &printed)
{
    std::string out;
    bool in_string = false, escaped = false;
    for (char c : printed) {
        if (in_string) {
            out.push_back(c);
            if (escaped)
                escaped = false;
            else if (c == '\\')
                escaped = true;
            else if (c == '"')
                in_string = false;
        } else if (c == '"') {
            in_string = true;
            out.push_back(c);
        } else if (c != ' ' && c != '\t' && c != '\n') {
            out.push_back(c);
        }
    }
    const std::string key = "\"ping\":";
    for (size_t pos = out.find(key); pos != std::string::npos; pos = out.find(key, pos + 1)) {
        size_t digits = pos + key.size();
        size_t end = out.find_first_not_of("0123456789", digits);
        if (end != std::string::npos && end > digits)
            out.replace(digits, end - digits, "N");
    }
    return out;
}

std::string result(const std::string &fields, int id)
{
    return "{\"result\":{" + fields + "},\"id\":" + std::to_string(id) + "}";
}

std::string refused(const char *state, const char *event, int id, const char *acc_state = "0")
{
    return std::string("{\"error\":{\"code\":34,\"message\":\"State machine can't deal this command\",\"data\":{"
                       "\"msg\":\"State machine can't deal this command\",\"status\":\"") +
           state + "\",\"event\":\"" + event + "\",\"accState\":\"" + acc_state + "\",\"status\":\"" + state +
           "\"}},\"id\":" + std::to_string(id) + "}";
}

class Zunarod : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(ZND_TestWriteFile("/etc/zunaro/gameList.conf",
                                      R"({"code":0,"version":"v1","gamelist":[{"gid":757,"sroute":["10.0.0.0:255.0.0.0"]}]})"));
        ASSERT_TRUE(ZND_TestWriteFile(
            "/etc/zunaro/smartRoute.conf",
            R"({"code":0,"version":"v1","rules":[{"gid":757,"servers":[{"mrange":["10.20.0.0:255.255.0.0"]}]}]})"));
        ASSERT_TRUE(ZND_TestWriteFile("/etc/iproute2/rt_tables", "255\tlocal\n254\tmain\n253\tdefault\n"
                                                                 "252\tlogin\n251\ttraffic\n0\tunspec\n"));
        ASSERT_TRUE(ZND_TestWriteFile("/etc/config/userinfo", "config userinfo '1'\n\toption historyname 'alice'\n"
                                                              "\toption historypass 'secret'\n\toption mode '1'\n"
                                                              "\toption node '2'\n\toption nodename 'best'\n"
                                                              "\toption reconn '0'\n\toption currState 'INIT'\n"));
        ASSERT_TRUE(ZND_TestWriteFile("/etc/config/network",
                                      "config interface 'lan'\n\toption ipaddr '127.0.0.1'\n\toption netmask '255.0.0.0'\n\n"
                                      "config interface 'wan'\n\toption ifname 'eth1'\n"
                                      "\toption macaddr '02:00:5e:10:20:30'\n"));
        ASSERT_TRUE(ZND_TestWriteFile("/etc/config/openvpn", "config openvpn 'zunaro'\n\toption enabled '1'\n"));
        // The WAN and the tunnel answer while /tmp/wan-down does not exist.
        ASSERT_EQ(0, ZND_TestSh("mkdir -p /tmp/bin && ln -sf \"$(command -v busybox)\" /tmp/bin/ifconfig"));
        ASSERT_TRUE(ZND_TestWriteFile("/tmp/bin/ping", "#!/bin/sh\n[ -e /tmp/wan-down ] && exit 1\nexit 0\n", 0755));
        ASSERT_EQ(0, ZND_TestSh("ip link add eth1 type veth peer name eth1peer && "
                                "ip link set eth1 address 02:00:5e:10:20:30 && ip addr add 192.0.2.2/24 dev eth1 && "
                                "ip link set eth1peer up && ip link set eth1 up && "
                                "ip route add default via 192.0.2.1 && "
                                "ip link add tun0 type veth peer name tun0peer && ip link set tun0peer up && "
                                "ip link set tun0 up"));
        daemon.PrependPath("/tmp/bin");
    }

    // Runs zunaroctl; its printed answer.
    static std::string Ctl(const std::string &json)
    {
        return ZND_TestShOut(std::string(ZND_TEST_ZUNAROCTL) + " call zunaro rpc '" + json + "'");
    }
    static std::string Call(const std::string &json) { return compact(Ctl(json)); }

    static size_t KeyLogCount(const std::string &entry)
    {
        std::string log = ZND_TestReadFile("/tmp/zunaro.log");
        size_t n = 0;
        for (size_t pos = log.find("]: " + entry + "\n"); pos != std::string::npos;
             pos = log.find("]: " + entry + "\n", pos + 1))
            n++;
        return n;
    }
    static bool WaitKeyLogCount(const std::string &entry, size_t count, int timeout_ms)
    {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (KeyLogCount(entry) < count) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return true;
    }
    bool StartDaemon()
    {
        if (!daemon.Start() || !daemon.WaitForKeyLog("init success", 10000))
            return false;
        // The bus answers once the loop runs.
        for (int i = 0; i < 100; i++) {
            if (Ctl("{\"method\":\"GetStatus\",\"id\":0}").find("\"status\"") != std::string::npos)
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    DaemonProcess daemon;
};

// The event notifications the router itself receives: each goes to the WAN broadcast address
// (192.0.2.255, delivered locally as well) and then to the LAN one (127.0.0.255). Each is
// reported as "code@address".
class Notifications {
public:
    Notifications()
    {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        int one = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
        struct sockaddr_in sin = {};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(7168);
        bind(fd_, (struct sockaddr *)&sin, sizeof sin);
    }
    ~Notifications() { close(fd_); }
    std::vector<std::string> Take(size_t expected)
    {
        std::vector<std::string> codes;
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (std::chrono::steady_clock::now() < end) {
            struct pollfd p = {fd_, POLLIN, 0};
            if (poll(&p, 1, codes.size() >= expected ? 200 : 500) <= 0) {
                if (codes.size() >= expected)
                    break;
                continue;
            }
            char buf[512], ctrl[128];
            struct iovec iov = {buf, sizeof buf - 1};
            struct msghdr msg = {};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = ctrl;
            msg.msg_controllen = sizeof ctrl;
            ssize_t n = recvmsg(fd_, &msg, 0);
            if (n <= 0)
                break;
            buf[n] = '\0';
            std::string dest;
            for (struct cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                    struct in_pktinfo info;
                    memcpy(&info, CMSG_DATA(c), sizeof info);
                    dest = inet_ntoa(info.ipi_addr);
                }
            }
            json_object *doc = json_tokener_parse(buf);
            json_object *code = nullptr;
            if (doc && json_object_object_get_ex(doc, "code", &code))
                codes.push_back(std::to_string(json_object_get_int(code)) + "@" + dest);
            json_object_put(doc);
        }
        return codes;
    }

private:
    int fd_ = -1;
};

std::vector<std::string> Event(int code)
{
    return {std::to_string(code) + "@192.0.2.255", std::to_string(code) + "@127.0.0.255"};
}

TEST_F(Zunarod, AnswersEveryMethodOfTheTable)
{
    ASSERT_TRUE(MockCloudPrepareNetwork());
    MockCloud cloud;
    cloud.SetScenario(kScenario);
    ASSERT_TRUE(cloud.Start({MockCloud::PrimaryAddr()}));
    Notifications notes;
    ASSERT_TRUE(StartDaemon()) << daemon.Log();

    EXPECT_EQ("{\n\t\"result\": {\n\t\t\"status\": \"INIT\"\n\t},\n\t\"id\": 1\n}\n",
              Ctl(R"({"method":"DebugOn","id":1})"));
    EXPECT_EQ(result("\"accState\":\"0\",\"accMode\":\"1\",\"uName\":\"alice\",\"uPass\":\"secret\",\"uType\":\"0\","
                     "\"uConflict\":\"0\",\"uExpire\":\"\",\"uServerTime\":\"\",\"status\":\"INIT\"",
                     2),
              Call(R"({"method":"GetStatus","id":2})"));
    EXPECT_EQ(refused("INIT", "get acc state", 3), Call(R"({"method":"GetAccState","id":3})"));

    EXPECT_EQ(result(std::string(kAccount) + ",\"realIp\":\"203.0.113.7\",\"status\":\"LOGIN_OK\"", 4),
              Call(R"({"method":"Login","params":["alice","secret"],"id":4})"));
    const std::string nodes = "{\"nid\":2,\"rnid\":2,\"lineweight\":3,\"ord\":4,\"ping\":N,\"update\":0,"
                              "\"servername\":\"best\"},"
                              "{\"nid\":1,\"rnid\":2,\"lineweight\":3,\"ord\":4,\"ping\":N,\"update\":0,"
                              "\"servername\":\"far\"}";
    EXPECT_EQ(result(nodes + ",\"status\":\"LOGIN_OK\"", 5), Call(R"({"method":"GetNodeList","id":5})"));
    EXPECT_EQ(result("\"status\":\"LOGIN_OK\"", 6), Call(R"({"method":"FlushNodeList","id":6})"));
    const std::string acc_result = result("\"ping\":N,\"loss\":\"0\",\"node\":{\"nid\":2,\"servername\":\"best\"},"
                                          "\"mode\":{\"id\":1,\"mode\":\"模式一\"},\"status\":\"LOGIN_OK\"",
                                          7);
    EXPECT_EQ(acc_result, Call(R"({"method":"GetAccResult","id":7})"));
    EXPECT_EQ(acc_result, Call(R"({"method":"GetPingTime","id":7})"));
    EXPECT_EQ(result("\"status\":\"3\",\"accMode\":\"0\",\"accState\":\"0\",\"uName\":\"alice\",\"uPass\":\"secret\","
                     "\"status\":\"LOGIN_OK\"",
                     8),
              Call(R"({"method":"GetAccState","id":8})"));
    EXPECT_EQ(result("\"status\":\"LOGIN_OK\"", 9), Call(R"({"method":"ForceOffLine","id":9})"));
    EXPECT_EQ(refused("LOGIN_OK", "acc restart", 10), Call(R"({"method":"AccRestart","params":["1","2","best","0"],"id":10})"));
    EXPECT_EQ(refused("LOGIN_OK", "net device interface change", 11),
              Call(R"({"method":"NetDevChange","params":["wan","up"],"id":11})"));

    // Acceleration: dialing, then the tunnel answers and the routes go into the kernel.
    EXPECT_EQ(result("\"status\":\"ACCING\"", 12), Call(R"({"method":"AccStart","params":["1","2","best","0"],"id":12})"));
    EXPECT_EQ("alice\nsecret\n", ZND_TestReadFile("/etc/openvpn/userpass.txt"));
    ASSERT_TRUE(WaitKeyLogCount("acc success", 1, 10000)) << daemon.Log();
    EXPECT_EQ(Event(1), notes.Take(2));
    EXPECT_EQ(result("\"status\":\"5\",\"accMode\":\"1\",\"accState\":\"1\",\"uName\":\"alice\",\"uPass\":\"secret\","
                     "\"status\":\"ACC_OK\"",
                     13),
              Call(R"({"method":"GetAccState","id":13})"));
    std::string login_table = ZND_TestShOut("ip route show table 252");
    EXPECT_NE(std::string::npos, login_table.find("203.0.113.0/24 via 192.0.2.1 dev eth1")) << login_table;
    EXPECT_NE(std::string::npos, login_table.find("198.51.100.0/24 via 192.0.2.1 dev eth1")) << login_table;
    EXPECT_NE(std::string::npos, ZND_TestShOut("ip route show table 251").find("10.20.0.0/16 dev tun0"));
    EXPECT_EQ(result(nodes + ",\"status\":\"ACC_OK\"", 14), Call(R"({"method":"GetNodeList","id":14})"));
    EXPECT_EQ(result("\"status\":\"ACC_OK\"", 15), Call(R"({"method":"NetDevChange","params":["tun0","up"],"id":15})"));

    // Restart, and AccStart while accelerated, both stop and dial again.
    EXPECT_EQ(result("\"status\":\"ACCING\"", 16), Call(R"({"method":"AccRestart","params":["1","1","far","0"],"id":16})"));
    ASSERT_TRUE(WaitKeyLogCount("acc success", 2, 10000)) << daemon.Log();
    EXPECT_EQ(result("\"status\":\"ACCING\"", 17), Call(R"({"method":"AccStart","params":["1","2","best","0"],"id":17})"));
    ASSERT_TRUE(WaitKeyLogCount("acc success", 3, 10000)) << daemon.Log();
    std::vector<std::string> restarts = Event(0);
    for (int code : {1, 0, 1})
        for (const auto &e : Event(code))
            restarts.push_back(e);
    EXPECT_EQ(restarts, notes.Take(8));

    // The WAN goes down: the tunnel is stopped and the status says so.
    EXPECT_EQ(result("\"status\":\"LOGIN_OK\"", 18), Call(R"({"method":"NetDevChange","params":["wan","down"],"id":18})"));
    EXPECT_EQ(Event(3), notes.Take(2));
    EXPECT_EQ(0u, Call(R"({"method":"GetStatus","id":19})").find(R"({"result":{"accState":"3","accMode":"1",)"));
    EXPECT_EQ("", ZND_TestShOut("ip route show table 252"));

    EXPECT_EQ(result("\"status\":\"ACCING\"", 20), Call(R"({"method":"AccStart","params":["1","2","best","0"],"id":20})"));
    EXPECT_EQ(result("\"status\":\"LOGIN_OK\"", 21), Call(R"({"method":"AccStop","id":21})"));
    EXPECT_EQ(Event(0), notes.Take(2));
    EXPECT_EQ(result("\"status\":\"INIT\"", 22), Call(R"({"method":"Logout","id":22})"));
    EXPECT_EQ(result("\"status\":\"INIT\"", 23), Call(R"({"method":"DebugOff","id":23})"));

    // Accelerated when the daemon is told to end: the tunnel and its routes stay for the next start.
    Call(R"({"method":"Login","params":["alice","secret"],"id":24})");
    EXPECT_EQ(result("\"status\":\"ACCING\"", 25), Call(R"({"method":"AccStart","params":["1","2","best","0"],"id":25})"));
    ASSERT_TRUE(WaitKeyLogCount("acc success", 4, 10000)) << daemon.Log();

    std::vector<std::string> paths;
    for (const auto &r : cloud.Requests())
        paths.push_back(r.path);
    EXPECT_EQ(1, std::count(paths.begin(), paths.end(), "/api/forceoffline"));
    EXPECT_EQ(3, std::count(paths.begin(), paths.end(), "/api/cfgcontrol"));
    EXPECT_EQ(0, daemon.Stop(SIGTERM));
    EXPECT_NE(std::string::npos, ZND_TestShOut("ip route show table 252").find("203.0.113.0/24 via 192.0.2.1"));
    EXPECT_NE(std::string::npos, ZND_TestShOut("ip route show table 251").find("10.20.0.0/16 dev tun0"));
    EXPECT_NE(std::string::npos, ZND_TestShOut("ip rule list").find("lookup login"));
}

TEST_F(Zunarod, DebugLinesDiscoveryAndTheEndOnSigterm)
{
    ASSERT_TRUE(StartDaemon()) << daemon.Log();
    EXPECT_EQ(std::string::npos, daemon.Log().find("[ZND_DBG]"));
    Ctl(R"({"method":"DebugOn","id":1})");
    Ctl(R"({"method":"GetStatus","id":2})");
    EXPECT_TRUE(daemon.WaitForLog("[ZND_DBG]  method: GetStatus  (id:2)", 5000)) << daemon.Log();
    Ctl(R"({"method":"DebugOff","id":3})");
    size_t before = daemon.Log().size();
    Ctl(R"({"method":"GetStatus","id":4})");
    EXPECT_EQ(std::string::npos, daemon.Log().find("[ZND_DBG]", before));

    int reply = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0), ask = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    struct sockaddr_in sin = {};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = inet_addr("127.0.0.1");
    sin.sin_port = htons(7168);
    ASSERT_EQ(0, bind(reply, (struct sockaddr *)&sin, sizeof sin));
    sin.sin_port = htons(7167);
    const char request[] = "{\"code\":5}";
    ASSERT_EQ((ssize_t)strlen(request), sendto(ask, request, strlen(request), 0, (struct sockaddr *)&sin, sizeof sin));
    struct pollfd p = {reply, POLLIN, 0};
    ASSERT_EQ(1, poll(&p, 1, 5000)) << daemon.Log();
    char buf[1024] = {};
    ASSERT_GT(recv(reply, buf, sizeof buf - 1, 0), 0);
    EXPECT_EQ("{ \"code\": 6, \"msg\": \"" ZND_HOST_NAME " hostip\", \"data\": { \"host\": \"127.0.0.1\", \"flag\": 1, "
              "\"ssid\": \"\", \"mac\": \"02:00:5e:10:20:30\" } }",
              std::string(buf));
    close(reply);
    close(ask);

    EXPECT_EQ(0, daemon.Stop(SIGTERM));
    EXPECT_NE(std::string::npos, daemon.Log().find("[ZND_INFO]  route table deinit ok"));
    std::vector<std::string> objects;
    EXPECT_EQ(ZND_BUS_STATUS_OK, ZND_BusClientList(nullptr, 2000, &objects));
    EXPECT_EQ(objects.end(), std::find(objects.begin(), objects.end(), "zunaro")) << "the object is gone with the daemon";
}

} // namespace
