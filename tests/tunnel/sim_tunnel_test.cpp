// The tunnel control inside the simulated router: each kind is dialled by the real drivers with the
// real shell, its routes go into the kernel tables through rtnetlink, and the stop takes the tunnel
// and the routes away again. The work is done by sim_tunnel_driver, run in the router.
#include <gtest/gtest.h>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>
#include "harness/sandbox.h"

namespace {

const std::string kRouter = ZND_SIM_DIR "/router";
const std::string kDriver = ZND_SIM_TUNNEL_DRIVER;
const std::string kServicesLog = "/run/zunaro-sim/log/services.log";
const std::string kUpLog = "/tmp/sim-up.log";

int Sim(const std::string &args)
{
    return ZND_TestSh(kRouter + " " + args + " >>/tmp/sim-cmd.log 2>&1");
}

// Output of a shell command inside the router.
std::string InRouter(const std::string &cmd)
{
    return ZND_TestShOut(kRouter + " exec /bin/sh -c " + ZND_TestQuote(cmd) + " 2>>/tmp/sim-cmd.log");
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            out.push_back(line);
    return out;
}

// Lines of the services log that hold all the texts.
int ServicesLogCount(const std::vector<std::string> &texts)
{
    int n = 0;
    for (const auto &line : Lines(ZND_TestReadFile(kServicesLog))) {
        bool all = true;
        for (const auto &t : texts)
            all = all && line.find(t) != std::string::npos;
        n += all;
    }
    return n;
}

// "N" of "key=N" in the driver's report.
size_t ReportNumber(const std::string &report, const std::string &key)
{
    size_t at = report.find(key + "=");
    return at == std::string::npos ? 0 : strtoul(report.c_str() + at + key.size() + 1, nullptr, 10);
}

struct Kind {
    const char *mode;
    const char *dev;
    std::vector<std::string> service_line;   // what the simulated service read
};

class SimTunnel : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("ZUNARO_BUILD", ZND_BUILD_DIR, 1);
        ASSERT_EQ(0, ZND_TestSh(kRouter + " up --no-cloud >" + kUpLog + " 2>&1")) << ZND_TestReadFile(kUpLog);
    }
    void TearDown() override { EXPECT_EQ(0, Sim("down")); }

    // Dials in the mode of kind through the driver; checks the tunnel of the mode that answered
    // (dialled, the kind's own mode unless automatic), both tables and the policy rules.
    void UpAndCheck(const Kind &k, const char *dialled = nullptr)
    {
        std::string report = InRouter(kDriver + " up " + k.mode + "; echo rc=$?");
        std::string mode = dialled ? dialled : k.mode;
        ASSERT_NE(std::string::npos, report.find("state=ACC_OK mode=" + mode + " accTun=" + k.dev))
            << report;
        ASSERT_NE(std::string::npos, report.find("rc=0")) << report;
        EXPECT_EQ(1, ServicesLogCount(k.service_line)) << k.dev;
        EXPECT_EQ(0, ZND_TestSh(kRouter + " exec ip link show dev " + k.dev + " >/dev/null 2>&1")) << k.dev;

        std::vector<std::string> login = Lines(InRouter("ip route show table 252"));
        std::vector<std::string> traffic = Lines(InRouter("ip route show table 251"));
        ASSERT_GT(ReportNumber(report, "login"), 0u);
        EXPECT_EQ(ReportNumber(report, "login"), login.size()) << k.dev;
        EXPECT_EQ(ReportNumber(report, "traffic"), traffic.size()) << k.dev;
        for (const auto &line : login)
            ASSERT_NE(std::string::npos, line.find(" via 10.1.2.1 dev eth0")) << line;
        for (const auto &line : traffic)
            ASSERT_NE(std::string::npos, line.find(std::string(" dev ") + k.dev + " ")) << line;
        std::string rules = InRouter("ip rule show");
        EXPECT_NE(std::string::npos, rules.find("99:\tfrom all lookup login")) << rules;
        EXPECT_NE(std::string::npos, rules.find("100:\tfrom all fwmark 0x1 lookup traffic")) << rules;
        // Marked traffic to a listed game server leaves through the tunnel.
        EXPECT_NE(std::string::npos, InRouter("ip route get 198.18.100.10 mark 1").find(std::string("dev ") + k.dev))
            << k.dev;
    }

    void DownAndCheck(const Kind &k)
    {
        std::string report = InRouter(kDriver + " down " + k.mode + "; echo rc=$?");
        EXPECT_NE(std::string::npos, report.find("rc=0")) << report;
        EXPECT_NE(0, ZND_TestSh(kRouter + " exec ip link show dev " + k.dev + " >/dev/null 2>&1")) << k.dev;
        EXPECT_EQ("", InRouter("ip route show table 252"));
        EXPECT_EQ("", InRouter("ip route show table 251"));
    }
};

TEST_F(SimTunnel, EveryKindDialsInstallsItsRoutesAndStops)
{
    const Kind kinds[] = {
        {"1", "tun0", {"\"service\": \"openvpn\"", "\"remote\": \"203.0.113.10 1194\"", "\"dev\": \"tun\"",
                       "\"user\": \"demo\"", "\"password\": \"zunaro-demo\"", "\"result\": \"up\""}},
        {"2", "ipsec0", {"\"service\": \"ipsec\"", "\"eap_identity\": \"demo\"", "\"right\": \"203.0.113.10\"",
                         "\"password\": \"zunaro-demo\"", "\"result\": \"up\""}},
        {"3", "l2tp-vpn", {"\"kind\": \"l2tp\"", "\"server\": \"203.0.113.10\"", "\"username\": \"demo\"",
                           "\"auto\": \"0\"", "\"result\": \"up\""}},
        {"4", "pptp-vpn", {"\"kind\": \"pptp\"", "\"server\": \"203.0.113.10\"", "\"username\": \"demo\"",
                           "\"auto\": \"0\"", "\"result\": \"up\""}},
    };
    for (const Kind &k : kinds) {
        UpAndCheck(k);
        DownAndCheck(k);
    }
}

} // namespace

namespace {

TEST_F(SimTunnel, AutomaticModeFallsBackFromASilentOpenvpnToIpsec)
{
    ASSERT_EQ(0, Sim("fault tunnel openvpn never"));
    UpAndCheck({"0", "ipsec0", {"\"service\": \"ipsec\"", "\"right\": \"203.0.113.10\"", "\"result\": \"up\""}},
               "2");
    // Fifteen checks went by before OpenVPN was stopped and IPsec dialled.
    EXPECT_EQ(1, ServicesLogCount({"\"service\": \"openvpn\"", "\"action\": \"start\"", "\"result\": \"never\""}));
    std::string log = ZND_TestReadFile(kServicesLog);
    size_t openvpn_stop = log.rfind("{\"service\": \"openvpn\", \"action\": \"stop\"");
    size_t ipsec_start = log.find("\"service\": \"ipsec\", \"kind\": \"ipsec\", \"action\": \"start\"");
    ASSERT_NE(std::string::npos, openvpn_stop) << log;
    ASSERT_NE(std::string::npos, ipsec_start) << log;
    EXPECT_LT(openvpn_stop, ipsec_start);
    DownAndCheck({"2", "ipsec0", {}});
}

} // namespace
